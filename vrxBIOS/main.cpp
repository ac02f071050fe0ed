// vrxBIOS: the WMI provider service for the firmware settings, and its own installer.

#include "ProviderApp.h"

namespace {
CProviderApp theApp;
}

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
