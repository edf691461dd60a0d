// A program that does nothing; the build stores a version note in its file.
int main() {
    return 0;
}
