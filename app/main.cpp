// app/main.cpp
// The qob executable: its arguments joined with "|" into the one command
// line the runtime splits, so "qob prog.qob Q" and "qob 'prog.qob|Q'" agree.

#include <string>

#include "host/startup.h"
#include "platform/huge_pages.h"

int main(int argc, char** argv) {
    qob::platform::PrepareCHeap();
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += '|';
        commandLine += argv[i];
    }
    return qob::WinMain(commandLine);
}
