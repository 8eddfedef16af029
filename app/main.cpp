// app/main.cpp: kwLoader, the launcher and update verifier started in the application's place.
#include "launcher/kwLoader.h"

int main(int argc, char** argv) {
    return TermineProgramaKwLoader(ExecuteProgramaKwLoader(argc, argv));
}
