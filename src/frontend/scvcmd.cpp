// The program body.
int main() { return 2; }
