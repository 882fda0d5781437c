// The loopback back ends and raw clients of the request-road tests, shared
// with this test program.
#include "tests/Common/ClientRoadHost.cpp"  // NOLINT(bugprone-suspicious-include)
