#include "kez.h"
#include "kez_tool.hpp"

// The switch library counts into these; they live in the program's image.
uint32_t Unicast_stats;
uint32_t Multicast_stats;

int main(int argc, char **argv)
{
    return tool_main(argc, argv);
}
