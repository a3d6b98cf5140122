// The program's entry. Interim: running jobs arrives with the job runner.
#include <cstdio>

int main() {
    std::fputs("pemo: running jobs is not available in this build yet\n", stderr);
    return 2;
}
