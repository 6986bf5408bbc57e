// Linked with the whole scene library and nothing of the application shell
// but the services the scene shares with it: the link fails when a scene
// source reaches for anything else of the shell.
int main() { return 0; }
