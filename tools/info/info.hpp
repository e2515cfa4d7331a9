#pragma once

// qv_info shows, checks and stores the device's identity record: every
// field named on one command line, or in one file, in a single rewrite of
// the partition. Returns 0; 1 when verify finds the record not provisioned;
// 2 for a refused command line or value (nothing is written); -1 (status
// 255) when the record could not be read or stored.
int tool_main(int argc, char **argv);
