#!/usr/bin/python3
"""tagwell-server over DCOM, driven by impacket as a Windows OPC client would
drive it, with tshark judging what went over the wire.

Usage: dcom_peer.py TAGWELL_SERVER WORK_FOLDER

Starts tagwell-server --dcom 127.0.0.1:PORT (a free port, never 135) with
two accounts, captures the loopback traffic, runs the session and the refused
logins, and prints one line per check ("ok ..." or "FAIL ..."). Exits 0 when
every check passed.
"""
import os
import socket
import subprocess
import sys
import time
from struct import pack
from threading import current_thread

from impacket.dcerpc.v5 import transport
from impacket.dcerpc.v5.dcom.oaut import VARIANT, VARENUM, wireVARIANTStr
from impacket.dcerpc.v5.dcomrt import (DCOMANSWER, DCOMCALL, DCOMConnection, INTERFACE,
                                       IRemUnknown2, PMInterfacePointer)
from impacket.dcerpc.v5.dtypes import (BOOL, DWORD, FILETIME, GUID, HRESULT, LPWSTR, NULL,
                                       ULONG, USHORT, WSTR, PLONG, PFLOAT)
from impacket.dcerpc.v5.ndr import (NDRPOINTER, NDRSTRUCT, NDRUniConformantArray,
                                    NDRUniConformantVaryingArray)
from impacket.dcerpc.v5.rpcrt import (RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
                                      RPC_C_AUTHN_LEVEL_PKT_PRIVACY)
from impacket.uuid import string_to_bin, uuidtup_to_bin

CLSID_SIMULATION = string_to_bin('6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53')
CLSID_OPCENUM = string_to_bin('13486D51-4821-11D2-A494-3CB306C10000')
CATID_DA20 = string_to_bin('63D5F432-CFE4-11D1-B2C8-0060083BA1FB')


def iid(text):
    return uuidtup_to_bin((text, '0.0'))


IID_IOPCServer = iid('39C13A4D-011E-11D0-9675-0020AFD8ADB3')
IID_IOPCBrowse = iid('39C13A4F-011E-11D0-9675-0020AFD8ADB3')
IID_IOPCSyncIO = iid('39C13A52-011E-11D0-9675-0020AFD8ADB3')
IID_IOPCItemMgt = iid('39C13A54-011E-11D0-9675-0020AFD8ADB3')
IID_IEnumString = iid('00000101-0000-0000-C000-000000000046')
IID_IOPCServerList2 = iid('9DD0B56C-AD9E-43EE-8305-487F3188BF7A')
IID_IOPCEnumGUID = iid('55C382C8-21C7-4E88-96C1-BECFB1E3F483')
OPC_E_BADRIGHTS = 0xC0040006

# --- The OPC DA 2.0 custom interfaces in impacket's NDR types -------------------


class BYTE_ARRAY(NDRUniConformantArray):
    item = 'c'


class PBYTE_ARRAY(NDRPOINTER):
    referent = (('Data', BYTE_ARRAY),)


class DWORD_ARRAY(NDRUniConformantArray):
    item = '<L'


class HRESULT_ARRAY(NDRUniConformantArray):
    item = '<L'


class PHRESULT_ARRAY(NDRPOINTER):
    referent = (('Data', HRESULT_ARRAY),)


class OPCITEMDEF(NDRSTRUCT):
    structure = (('szAccessPath', LPWSTR), ('szItemID', LPWSTR), ('bActive', BOOL),
                 ('hClient', DWORD), ('dwBlobSize', DWORD), ('pBlob', PBYTE_ARRAY),
                 ('vtRequestedDataType', USHORT), ('wReserved', USHORT))


class OPCITEMDEF_ARRAY(NDRUniConformantArray):
    item = OPCITEMDEF


class OPCITEMRESULT(NDRSTRUCT):
    structure = (('hServer', DWORD), ('vtCanonicalDataType', USHORT), ('wReserved', USHORT),
                 ('dwAccessRights', DWORD), ('dwBlobSize', DWORD), ('pBlob', PBYTE_ARRAY))


class OPCITEMRESULT_ARRAY(NDRUniConformantArray):
    item = OPCITEMRESULT


class POPCITEMRESULT_ARRAY(NDRPOINTER):
    referent = (('Data', OPCITEMRESULT_ARRAY),)


class OPCITEMSTATE(NDRSTRUCT):
    structure = (('hClient', DWORD), ('ftTimeStamp', FILETIME), ('wQuality', USHORT),
                 ('wReserved', USHORT), ('vDataValue', VARIANT))


class OPCITEMSTATE_ARRAY(NDRUniConformantArray):
    item = OPCITEMSTATE


class POPCITEMSTATE_ARRAY(NDRPOINTER):
    referent = (('Data', OPCITEMSTATE_ARRAY),)


class VARIANT_ARRAY(NDRUniConformantArray):
    item = VARIANT


class OPCSERVERSTATUS(NDRSTRUCT):
    structure = (('ftStartTime', FILETIME), ('ftCurrentTime', FILETIME),
                 ('ftLastUpdateTime', FILETIME), ('dwServerState', USHORT),
                 ('dwGroupCount', DWORD), ('dwBandWidth', DWORD), ('wMajorVersion', USHORT),
                 ('wMinorVersion', USHORT), ('wBuildNumber', USHORT), ('wReserved', USHORT),
                 ('szVendorInfo', LPWSTR))


class POPCSERVERSTATUS(NDRPOINTER):
    referent = (('Data', OPCSERVERSTATUS),)


class LPWSTR_VARYING_ARRAY(NDRUniConformantVaryingArray):
    item = LPWSTR


class GUID_ARRAY(NDRUniConformantArray):
    item = GUID


class GUID_VARYING_ARRAY(NDRUniConformantVaryingArray):
    item = GUID


class GetStatus(DCOMCALL):
    opnum = 6
    structure = ()


class GetStatusResponse(DCOMANSWER):
    structure = (('ppServerStatus', POPCSERVERSTATUS), ('ErrorCode', HRESULT))


class AddGroup(DCOMCALL):
    opnum = 3
    structure = (('szName', WSTR), ('bActive', BOOL), ('dwRequestedUpdateRate', DWORD),
                 ('hClientGroup', DWORD), ('pTimeBias', PLONG), ('pPercentDeadband', PFLOAT),
                 ('dwLCID', DWORD), ('riid', GUID))


class AddGroupResponse(DCOMANSWER):
    structure = (('phServerGroup', DWORD), ('pRevisedUpdateRate', DWORD),
                 ('ppUnk', PMInterfacePointer), ('ErrorCode', HRESULT))


class AddItems(DCOMCALL):
    opnum = 3
    structure = (('dwCount', DWORD), ('pItemArray', OPCITEMDEF_ARRAY))


class AddItemsResponse(DCOMANSWER):
    structure = (('ppAddResults', POPCITEMRESULT_ARRAY), ('ppErrors', PHRESULT_ARRAY),
                 ('ErrorCode', HRESULT))


class Read(DCOMCALL):
    opnum = 3
    structure = (('dwSource', USHORT), ('dwCount', DWORD), ('phServer', DWORD_ARRAY))


class ReadResponse(DCOMANSWER):
    structure = (('ppItemValues', POPCITEMSTATE_ARRAY), ('ppErrors', PHRESULT_ARRAY),
                 ('ErrorCode', HRESULT))


class Write(DCOMCALL):
    opnum = 4
    structure = (('dwCount', DWORD), ('phServer', DWORD_ARRAY), ('pItemValues', VARIANT_ARRAY))


class WriteResponse(DCOMANSWER):
    structure = (('ppErrors', PHRESULT_ARRAY), ('ErrorCode', HRESULT))


class WriteValues(DCOMCALL):
    """Write with the VARIANT array laid out by hand around impacket's own
    wireVARIANT: impacket places the pointee of an array's VARIANT pointer
    at an offset counted from the pointee, not from the stub's start, which
    misaligns its 8-byte members (NDR aligns them to the stub)."""
    opnum = 4
    structure = (('dwCount', DWORD), ('phServer', DWORD_ARRAY), ('pItemValues', ':'))


class WriteValuesResponse(WriteResponse):
    pass


class BrowseOPCItemIDs(DCOMCALL):
    opnum = 5
    structure = (('dwBrowseFilterType', USHORT), ('szFilterCriteria', WSTR),
                 ('vtDataTypeFilter', USHORT), ('dwAccessRightsFilter', DWORD))


class BrowseOPCItemIDsResponse(DCOMANSWER):
    structure = (('ppIEnumString', PMInterfacePointer), ('ErrorCode', HRESULT))


class EnumStringNext(DCOMCALL):
    opnum = 3
    structure = (('celt', ULONG),)


class EnumStringNextResponse(DCOMANSWER):
    structure = (('rgelt', LPWSTR_VARYING_ARRAY), ('pceltFetched', ULONG), ('ErrorCode', HRESULT))


class EnumClassesOfCategories(DCOMCALL):
    opnum = 3
    structure = (('cImplemented', ULONG), ('rgcatidImpl', GUID_ARRAY), ('cRequired', ULONG),
                 ('rgcatidReq', GUID_ARRAY))


class EnumClassesOfCategoriesResponse(DCOMANSWER):
    structure = (('ppenumClsid', PMInterfacePointer), ('ErrorCode', HRESULT))


class GetClassDetails(DCOMCALL):
    opnum = 4
    structure = (('clsid', GUID),)


class GetClassDetailsResponse(DCOMANSWER):
    structure = (('ppszProgID', LPWSTR), ('ppszUserType', LPWSTR), ('ppszVerIndProgID', LPWSTR),
                 ('ErrorCode', HRESULT))


class EnumGuidNext(DCOMCALL):
    opnum = 3
    structure = (('celt', ULONG),)


class EnumGuidNextResponse(DCOMANSWER):
    structure = (('rgelt', GUID_VARYING_ARRAY), ('pceltFetched', ULONG), ('ErrorCode', HRESULT))


# --- The client ---------------------------------------------------------------------


class PortConnection(DCOMConnection):
    """DCOMConnection whose resolver and activator listen on a port of ours."""
    PORT = 135

    def initConnection(self):
        rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:%s' % self._DCOMConnection__target)
        rpc.set_dport(self.PORT)
        rpc.set_credentials(self._DCOMConnection__userName, self._DCOMConnection__password,
                            self._DCOMConnection__domain)
        self._DCOMConnection__portmap = rpc.get_dce_rpc()
        self._DCOMConnection__portmap.set_auth_level(self._DCOMConnection__authLevel)
        self._DCOMConnection__portmap.connect()
        DCOMConnection.PORTMAPS[self._DCOMConnection__target] = self._DCOMConnection__portmap


def fresh_connection_per_interface():
    """impacket moves a connection to another interface with an alter_context
    that opens a second NTLM security context; where the transport does not
    offer that, each interface gets a connection of its own instead."""
    connect = INTERFACE.connect

    def connect_fresh(self, iid_=None):
        mine = INTERFACE.CONNECTIONS.get(self.get_target(), {}).get(current_thread().name, {})
        cached = mine.get(self.get_oxid())
        if cached is not None and cached['currentBinding'] != iid_:
            try:
                cached['dce'].disconnect()
            except Exception:
                pass
            del mine[self.get_oxid()]
        return connect(self, iid_)
    INTERFACE.connect = connect_fresh


def call(itf, iid_, request):
    """An ORPC call on itf's IPID; the answer whatever its HRESULT."""
    request['ORPCthis'] = itf.get_cinstance().get_ORPCthis()
    request['ORPCthis']['flags'] = 0
    itf.connect(iid_)
    return itf.get_dce_rpc().request(request, itf.get_iPid(), checkError=False)


def unmarshal(itf, pointer):
    return IRemUnknown2(INTERFACE(itf.get_cinstance(), b''.join(pointer['abData']),
                                  itf.get_ipidRemUnknown(), target=itf.get_target()))


def value(number):
    v = VARIANT()
    v['clSize'] = 5
    v['rpcReserved'] = 0
    v['vt'] = VARENUM.VT_R8
    v['_varUnion']['tag'] = VARENUM.VT_R8
    v['_varUnion']['dblVal'] = number
    return v


class Checks:
    def __init__(self):
        self.failed = 0

    def __call__(self, name, passed, detail=''):
        print(('ok ' if passed else 'FAIL ') + name + ('' if passed else ': ' + str(detail)),
              flush=True)
        self.failed += 0 if passed else 1


def add_items(group, names):
    request = AddItems()
    request['dwCount'] = len(names)
    for handle, name in enumerate(names, 1):
        d = OPCITEMDEF()
        d['szAccessPath'] = '\x00'
        d['szItemID'] = name + '\x00'
        d['bActive'] = 1
        d['hClient'] = handle
        d['dwBlobSize'] = 0
        d['pBlob'] = NULL
        d['vtRequestedDataType'] = 0
        d['wReserved'] = 0
        request['pItemArray'].append(d)
    return call(group, IID_IOPCItemMgt, request)


def read(io, handle):
    request = Read()
    request['dwSource'] = 2  # OPC_DS_DEVICE
    request['dwCount'] = 1
    request['phServer'].append(handle)
    answer = call(io, IID_IOPCSyncIO, request)
    state = answer['ppItemValues'][0]
    return state['vDataValue']['_varUnion']['dblVal'], state['wQuality'], answer['ErrorCode']


def write(io, handle, number):
    request = WriteValues()
    request['dwCount'] = 1
    request['phServer'].append(handle)
    # After the 32-byte ORPCTHIS: dwCount, the handle array (max count and
    # one handle), the max count of the values and one referent id.
    offset = 32 + 4 + 8 + 4 + 4
    body = value(number).fields['Data']
    request['pItemValues'] = pack('<LL', 1, 0x00020000) + body.getData(offset)
    answer = call(io, IID_IOPCSyncIO, request)
    return answer['ppErrors'][0] & 0xFFFFFFFF


def session(check, port, user, password, level, tag):
    """The operator's session: status, group, items, reads, a write, browse, release."""
    dcom = PortConnection('127.0.0.1', user, password, 'TAGWELL', authLevel=level,
                          oxidResolver=True)
    try:
        server = dcom.CoCreateInstanceEx(CLSID_SIMULATION, IID_IOPCServer)
        check(tag + ' activation', True)
        status = call(server, IID_IOPCServer, GetStatus())
        vendor = status['ppServerStatus']['szVendorInfo']
        check(tag + ' GetStatus', status['ErrorCode'] == 0 and
              vendor.startswith('Tagwell Simulation Server'), vendor)
        request = AddGroup()
        request['szName'] = 'Group\x00'
        request['bActive'] = 0
        request['dwRequestedUpdateRate'] = 100
        request['hClientGroup'] = 0
        request['pTimeBias'] = NULL
        request['pPercentDeadband'] = NULL
        request['dwLCID'] = 0
        request['riid'] = IID_IOPCItemMgt[:16]
        added = call(server, IID_IOPCServer, request)
        check(tag + ' AddGroup', added['ErrorCode'] == 0, added['ErrorCode'])
        group = unmarshal(server, added['ppUnk'])
        items = add_items(group, ['Boiler.Setpoint', 'Boiler.Temperature'])
        errors = [e & 0xFFFFFFFF for e in items['ppErrors']]
        check(tag + ' AddItems', items['ErrorCode'] == 0 and errors == [0, 0], errors)
        setpoint = items['ppAddResults'][0]['hServer']
        io = group.RemQueryInterface(1, (IID_IOPCSyncIO,))
        number, quality, hr = read(io, setpoint)
        check(tag + ' Read', (number, quality, hr) == (55.0, 0xC0, 0), (number, quality, hr))
        return dcom, server, group, io, setpoint
    except Exception as e:
        check(tag + ' session', False, repr(e))
        dcom.disconnect()
        return None


def browse(check, server):
    request = BrowseOPCItemIDs()
    browser = server.RemQueryInterface(1, (IID_IOPCBrowse,))
    request['dwBrowseFilterType'] = 3  # OPC_FLAT
    request['szFilterCriteria'] = '\x00'
    request['vtDataTypeFilter'] = 0
    request['dwAccessRightsFilter'] = 0
    answer = call(browser, IID_IOPCBrowse, request)
    names = unmarshal(browser, answer['ppIEnumString'])
    request = EnumStringNext()
    request['celt'] = 100
    listed = call(names, IID_IEnumString, request)
    found = [entry['Data'].rstrip('\x00') for entry in listed['rgelt']]
    check('browse OPC_FLAT', 'Boiler.Setpoint' in found, found)
    names.RemRelease()
    browser.RemRelease()


def server_list(check, port):
    dcom = PortConnection('127.0.0.1', 'operator', 'Plant-2026', 'TAGWELL',
                          authLevel=RPC_C_AUTHN_LEVEL_PKT_PRIVACY, oxidResolver=True)
    try:
        lister = dcom.CoCreateInstanceEx(CLSID_OPCENUM, IID_IOPCServerList2)
        request = EnumClassesOfCategories()
        request['cImplemented'] = 1
        g = GUID()
        g['Data'] = CATID_DA20
        request['rgcatidImpl'].append(g)
        request['cRequired'] = 0
        answer = call(lister, IID_IOPCServerList2, request)
        guids = unmarshal(lister, answer['ppenumClsid'])
        request = EnumGuidNext()
        request['celt'] = 10
        listed = call(guids, IID_IOPCEnumGUID, request)
        check('OPCEnum lists the simulation',
              [g['Data'] for g in listed['rgelt']] == [CLSID_SIMULATION], listed['pceltFetched'])
        request = GetClassDetails()
        request['clsid'] = CLSID_SIMULATION
        details = call(lister, IID_IOPCServerList2, request)
        check('OPCEnum class details', details['ppszProgID'] == 'Tagwell.Simulation.1\x00' and
              details['ppszVerIndProgID'] == 'Tagwell.Simulation\x00', details['ppszProgID'])
        guids.RemRelease()
        lister.RemRelease()
    finally:
        dcom.disconnect()


def refused(check, name, user, password, level):
    dcom = None
    try:
        dcom = PortConnection('127.0.0.1', user, password, 'TAGWELL', authLevel=level)
        dcom.CoCreateInstanceEx(CLSID_SIMULATION, IID_IOPCServer)
        check(name, False, 'activated')
    except Exception as e:
        check(name, 'access_denied' in str(e) or 'ACCESS_DENIED' in str(e), str(e))
    finally:
        if dcom:
            try:
                dcom.disconnect()
            except Exception:
                pass


def run(check, port):
    opened = session(check, port, 'operator', 'Plant-2026', RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                     'privacy')
    if opened:
        dcom, server, group, io, setpoint = opened
        check('Write', write(io, setpoint, 61.5) == 0)
        check('Write read back', read(io, setpoint)[0] == 61.5)
        write(io, setpoint, 55.0)
        browse(check, server)
        io.RemRelease()
        group.RemRelease()
        server.RemRelease()
        check('RemRelease', True)
        dcom.disconnect()
    opened = session(check, port, 'viewer', 'Look-only-1', RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
                     'integrity')
    if opened:
        dcom, server, group, io, setpoint = opened
        check('read-only Write refused', write(io, setpoint, 70.0) == OPC_E_BADRIGHTS)
        server.RemRelease()
        dcom.disconnect()
    server_list(check, port)
    refused(check, 'wrong password refused', 'operator', 'wrong', RPC_C_AUTHN_LEVEL_PKT_PRIVACY)
    refused(check, 'unknown account refused', 'nobody', 'Plant-2026',
            RPC_C_AUTHN_LEVEL_PKT_PRIVACY)
    refused(check, 'connect level refused', 'operator', 'Plant-2026', RPC_C_AUTHN_LEVEL_CONNECT)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def judge_capture(check, capture, port):
    """One pass of tshark: what it names, and no malformed packet or
    expert note of error level (0x800000)."""
    fields = ['_ws.col.Protocol', 'ntlmssp.messagetype', 'dcom.this.flags', 'dcom.that.flags',
              '_ws.malformed', '_ws.expert.severity']
    rows = subprocess.run(['tshark', '-r', capture, '-d', 'tcp.port==%d,dcerpc' % port, '-T',
                           'fields', '-E', 'separator=|'] + sum([['-e', f] for f in fields], []),
                          capture_output=True, text=True).stdout.splitlines()
    rows = [row.split('|') for row in rows if row.count('|') == len(fields) - 1]
    named = {'ntlmssp': sum(1 for r in rows if r[1]),
             'dcom': sum(1 for r in rows if r[2] or r[3]),
             'ISystemActivator': sum(1 for r in rows if r[0] == 'ISystemActivator'),
             'IRemUnknown': sum(1 for r in rows if r[0] == 'IRemUnknown')}
    check('capture names DCOM and NTLMSSP', all(named.values()), named)
    bad = [r for r in rows if r[4] or any(int(s) >= 0x800000 for s in r[5].split(',') if s)]
    check('capture has no malformed packet or error', rows and not bad, bad)


def main():
    program, work = sys.argv[1], sys.argv[2]
    port = free_port()
    PortConnection.PORT = port
    if os.environ.get('TAGWELL_DCOM_ALTER_CONTEXT') != '1':
        fresh_connection_per_interface()
    env = dict(os.environ, XDG_CONFIG_HOME=work + '/config', XDG_RUNTIME_DIR=work + '/runtime')
    os.makedirs(work + '/runtime', mode=0o700, exist_ok=True)
    for account, password, extra in (('TAGWELL\\operator', 'Plant-2026', []),
                                     ('TAGWELL\\viewer', 'Look-only-1', ['--read-only'])):
        subprocess.run([program, '--add-dcom-account', account] + extra, input=password + '\n',
                       env=env, text=True, check=True, capture_output=True)
    capture = work + '/dcom.pcapng'
    tshark = subprocess.Popen(['dumpcap', '-q', '-i', 'lo', '-f', 'tcp port %d' % port, '-w',
                               capture], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    captured = wait_for(lambda: os.path.exists(capture) and os.path.getsize(capture) > 0, 10)
    log = open(work + '/server.log', 'w+')
    server = subprocess.Popen([program, '--dcom', '127.0.0.1:%d' % port, '--endpoint',
                               'unix:' + work + '/runtime/sim.sock'], env=env, stderr=log)
    check = Checks()
    try:
        up = wait_for(lambda: 'serving DCOM clients' in open(work + '/server.log').read(), 20)
        check('server listens', up, open(work + '/server.log').read())
        if up:
            run(check, port)
    finally:
        server.terminate()
        server.wait(20)
        tshark.terminate()
        tshark.wait(20)
    if captured:
        judge_capture(check, capture, port)
    else:
        print('skip capture: dumpcap could not capture on lo')
    return 1 if check.failed else 0


if __name__ == '__main__':
    sys.exit(main())
