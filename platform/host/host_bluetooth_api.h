// The Bluetooth part of the platform API on the host terminal: Winsock start
// and stop, the Bluetooth name-space lookup that answers a remote device's
// service-attribute response, and the port-emulation parameter record.
#pragma once
