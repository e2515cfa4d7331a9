#pragma once

// qv_entity answers snmpd's pass_persist requests for ENTITY-MIB's chassis
// row from the identity record, one answer to each request, until its
// standard input ends (0). Returns 2 for a refused command line, -1 (status
// 255) when a request could not be read or an answer not written.
int tool_main(int argc, char **argv);
