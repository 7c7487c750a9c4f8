/* The floor: a program that does nothing. The benchmark starts it exactly as
 * it starts photomap (same arguments, same environment), so its time is what
 * any program pays to be started and ended. It also stands in for xdg-open
 * while photomap is timed: the hand-over ends as soon as it is started. */
int main(void) {
    return 0;
}
