// Linked with one folder's whole library and the folders below it: it links
// only while that folder calls nothing above it.
int main() { return 0; }
