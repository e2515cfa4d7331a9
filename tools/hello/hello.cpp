// hello: the banner line.

#include "hello.hpp"

#include <cstdio>

int tool_main(int, char **)
{
    puts(">>>>>>>>>>> hello openwrt <<<<<<<<<<<<<<");
    return 0;
}
