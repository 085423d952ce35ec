#include "Program.h"
#include "TenemarkApplication.h"

int main(int argc, char** argv) {
    TenemarkApplication app(argc, argv);
    Program program;
    if (!program.start())
        return 1;
    return app.exec();
}
