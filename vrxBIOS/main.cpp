// vrxBIOS: the WMI provider service for the firmware settings, and its own installer.

#include "Installation.h"
#include "ProviderApp.h"

namespace {
CProviderApp theApp;
}

int main(int argc, char** argv) {
    theApp.installation = StandardInstallation();
    return AfxWinMain(argc, argv);
}
