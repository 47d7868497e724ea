#!/usr/bin/python3
"""impacket as the independent DCE/RPC peer of the transport's tests.

usage: impacket_peer.py PORT USER DOMAIN PASSWORD LEVEL [CAPTURE]

Binds the echo test interface over ncacn_ip_tcp at LEVEL (connect,
integrity or privacy) with NTLM, calls the echo (opnum 0) with a small
and a large stub (larger than a fragment) and with an object UUID, and the
caller report (opnum 1). Prints "ok" and the report, or "refused: ..." when
the server refuses the login, or "error: ...". With CAPTURE (a file
name), the session is captured on loopback with tshark and the capture is
checked for malformed packets afterwards ("capture: clean" or
"capture: ..." with the complaints).
"""
import select
import signal
import socket
import subprocess
import sys

from impacket.dcerpc.v5 import rpcrt, transport
from impacket.uuid import uuidtup_to_bin

INTERFACE = ('0f3b8e1e-4c5a-4f7e-9b1d-2a6c8e0d7f31', '1.0')
LEVELS = {
    'connect': rpcrt.RPC_C_AUTHN_LEVEL_CONNECT,
    'integrity': rpcrt.RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
    'privacy': rpcrt.RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
}


def probe(capture, port):
    """Opens and closes a connection to the server until tshark shows it:
    then everything sent before it has been captured."""
    for _ in range(100):
        with socket.create_connection(('127.0.0.1', port), timeout=5):
            pass
        ready, _, _ = select.select([capture.stdout], [], [], 0.1)
        if ready:
            while select.select([capture.stdout], [], [], 0.2)[0]:
                if not capture.stdout.readline():
                    break
            return True
    return False


def start_capture(port, path):
    capture = subprocess.Popen(
        ['tshark', '-l', '-P', '-i', 'lo', '-f', 'tcp port %d' % port, '-w', path],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    probe(capture, port)
    return capture


def check_capture(capture, port, path):
    probe(capture, port)
    capture.send_signal(signal.SIGINT)
    capture.wait(timeout=10)
    complaints = subprocess.run(
        ['tshark', '-r', path, '-d', 'tcp.port==%d,dcerpc' % port,
         '-Y', '_ws.malformed || _ws.expert.severity == error'],
        capture_output=True, text=True, timeout=60)
    decoded = subprocess.run(
        ['tshark', '-r', path, '-d', 'tcp.port==%d,dcerpc' % port, '-Y', 'dcerpc'],
        capture_output=True, text=True, timeout=60)
    if complaints.stdout.strip() or complaints.returncode:
        return 'capture: ' + complaints.stdout.strip() + complaints.stderr.strip()
    if 'Bind_ack' not in decoded.stdout or 'Request' not in decoded.stdout:
        return 'capture: no bind_ack or request decoded: ' + decoded.stdout[:400]
    return 'capture: clean'


def session(port, user, domain, password, level):
    rpc = transport.DCERPCTransportFactory('ncacn_ip_tcp:127.0.0.1[%d]' % port)
    rpc.set_credentials(user, password, domain)
    dce = rpc.get_dce_rpc()
    dce.set_auth_type(rpcrt.RPC_C_AUTHN_WINNT)
    dce.set_auth_level(LEVELS[level])
    dce.connect()
    dce.bind(uuidtup_to_bin(INTERFACE))
    try:
        dce.call(0, b'hello')
        small = dce.recv()
    except rpcrt.DCERPCException as error:
        return 'refused: %s' % error
    if small != b'hello':
        return 'error: echo of a small stub gave %r' % small[:40]
    large = bytes((i * 7) & 0xff for i in range(20000))
    dce.call(0, large)
    if dce.recv() != large:
        return 'error: echo of a large stub differs'
    obj = bytes(range(16))
    dce.call(0, b'object', uuid=obj)
    if dce.recv() != b'object':
        return 'error: echo with an object UUID differs'
    dce.call(1, b'')
    report = dce.recv().decode()
    dce.disconnect()
    return 'ok ' + report


def main():
    port, user, domain, password, level = sys.argv[1:6]
    port = int(port)
    path = sys.argv[6] if len(sys.argv) > 6 else None
    capture = start_capture(port, path) if path else None
    try:
        print(session(port, user, domain, password, level))
    except Exception as error:  # the test reads what went wrong
        print('error: %s: %s' % (type(error).__name__, error))
    if capture:
        print(check_capture(capture, port, path))
    sys.stdout.flush()


if __name__ == '__main__':
    main()
