// Installing, opening and removing the library's driver (Zmrdtct).
//
// The driver travels inside the library as resource type 300, id 2128. Opening follows the system: on a 32-bit
// process of 64-bit Windows (WOW64, Windows XP or later) no driver is installed at all. A driver that goes
// away later (its process died) is started again through the service control manager and its devices opened
// as at opening (the transport asks for it). Teardown undoes only what this installation did: it stops the
// service only if it started it, deletes the service only if it created it, and deletes the driver file only
// if it wrote it.
#pragma once

#include "driver_transport.h"

#include <string>

namespace zmrmc {

class DriverInstallation {
public:
    DriverInstallation() = default;
    ~DriverInstallation() { Teardown(); }
    DriverInstallation(const DriverInstallation&) = delete;
    DriverInstallation& operator=(const DriverInstallation&) = delete;

    // Opens `transport` to the driver: an already running one of version 3.2 or later when `openExisting`,
    // else, when `installDriver`, the driver written from the resources and started as service "ZmrDtct".
    // The transport keeps a way back to this installation for restarting the driver: both must stay where
    // they are until Teardown.
    void Open(DriverTransport& transport, bool openExisting, bool installDriver);

    // Closes the transport, then stops, deletes and removes what Open created.
    void Teardown(DriverTransport& transport);

private:
    void Teardown();
    bool WriteDriverFile();
    // Writes the driver, starts it and opens its device, trying again for a while when that fails.
    bool StartInstalled(DriverTransport& transport);
    // Starts the service "ZmrDtct" (created first when `install`, an existing one taken); true when it runs.
    bool StartDriverService(bool install);
    bool OpenInstalled(DriverTransport& transport);
    bool OpenExisting(DriverTransport& transport);
    // After the driver went away: its service started again and its devices opened, as Open found it.
    bool Restart(DriverTransport& transport, bool installed);

    std::wstring driver_path_;  // the file this installation wrote, empty when none
    bool created_service_ = false;
    bool started_service_ = false;
};

}  // namespace zmrmc
