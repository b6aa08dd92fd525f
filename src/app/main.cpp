// Program entry (filled in with the monitor).
int main() { return 0; }
