#pragma once

// kez-tool starts the switch library on eth0 and carries out its options in
// order. Returns 0, or -1 (status 255) when the library does not start or a
// port is not one of the switch's.
int tool_main(int argc, char **argv);
