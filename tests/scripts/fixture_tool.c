/* A program staged as a shipped one would be; never run. */
#include <stdio.h>

int main(void)
{
    return puts("fixture") < 0;
}
