/* The floor: the least a program doing photomap's job must do. It reads the
 * picture's first 64 KiB with one pread, hands a fixed map URL to the
 * xdg-open it finds on PATH and waits for its exit, as photomap does to
 * report a failed launch. The benchmark times it beside photomap, with the
 * same stand-in xdg-open first on PATH.
 *   floor PICTURE */
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
    static char buffer[64 * 1024];
    int picture = argc == 2 ? open(argv[1], O_RDONLY | O_CLOEXEC) : -1;
    if (picture < 0 || pread(picture, buffer, sizeof buffer, 0) < 0) return 1;
    close(picture);
    char* arguments[] = {"xdg-open", "https://www.google.com/maps/place/48.85822222,2.29450000", 0};
    pid_t child;
    int status;
    if (posix_spawnp(&child, "xdg-open", 0, 0, arguments, environ) != 0) return 1;
    if (waitpid(child, &status, 0) != child) return 1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
