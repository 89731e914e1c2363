#include <cstdio>

// The window is not built yet; the libraries under core/, mime/, accounts/
// and md5/ are exercised by the tests.
int main()
{
    std::puts("Boxsweeper: the main window is not built yet; run scripts/test to exercise the libraries.");
    return 0;
}
