#pragma once

// hello prints the banner line. Arguments are ignored. Returns 0.
int tool_main(int argc, char **argv);
