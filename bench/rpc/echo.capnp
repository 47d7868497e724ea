# The floor of an RPC round trip: one call with one number each way.
@0xd3a0f6c1b2e4a795;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("tagwell::bench");

interface Echo {
  echo @0 (value :UInt64) -> (value :UInt64);
}
