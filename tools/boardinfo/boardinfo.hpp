#pragma once

// boardinfo prints the board's fixed description and its port table on
// standard output. Arguments are ignored. Returns 0, or -1 (status 255) when
// memory runs out.
int tool_main(int argc, char **argv);
