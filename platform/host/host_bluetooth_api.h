// The Bluetooth part of the platform API on the host terminal: Winsock start
// and stop, the Bluetooth name-space lookup that answers a remote device's
// service-attribute response, and the port-emulation parameter record.
//
// Included from host_api.h after the base types.
#pragma once

// ---------------------------------------------------------------- identifiers
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID* LPGUID;

// ---------------------------------------------------------------- Winsock
typedef uintptr_t SOCKET;
#define MAKEWORD(a, b) ((WORD)(((BYTE)(((DWORD_PTR)(a)) & 0xff)) | ((WORD)((BYTE)(((DWORD_PTR)(b)) & 0xff))) << 8))
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
typedef WSADATA* LPWSADATA;

#define SOCKET_ERROR (-1)
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSASERVICE_NOT_FOUND 10108
#define WSA_E_NO_MORE 10110
#define WSAHOST_NOT_FOUND 11001

// Starts the socket layer for this process; every successful start needs a
// matching WSACleanup. Versions 1.0 to 2.2 are accepted.
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

struct SOCKADDR {
    USHORT sa_family;
    char sa_data[14];
};
typedef SOCKADDR* LPSOCKADDR;
struct SOCKET_ADDRESS {
    LPSOCKADDR lpSockaddr;
    INT iSockaddrLength;
};
struct CSADDR_INFO {
    SOCKET_ADDRESS LocalAddr;
    SOCKET_ADDRESS RemoteAddr;
    INT iSocketType;
    INT iProtocol;
};
typedef CSADDR_INFO* LPCSADDR_INFO;
struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};
typedef BLOB* LPBLOB;
struct AFPROTOCOLS {
    INT iAddressFamily;
    INT iProtocol;
};
typedef AFPROTOCOLS* LPAFPROTOCOLS;
struct WSAVERSION {
    DWORD dwVersion;
    int ecHow;
};
typedef WSAVERSION* LPWSAVERSION;

struct WSAQUERYSETW {
    DWORD dwSize;
    LPWSTR lpszServiceInstanceName;
    LPGUID lpServiceClassId;
    LPWSAVERSION lpVersion;
    LPWSTR lpszComment;
    DWORD dwNameSpace;
    LPGUID lpNSProviderId;
    LPWSTR lpszContext;
    DWORD dwNumberOfProtocols;
    LPAFPROTOCOLS lpafpProtocols;
    LPWSTR lpszQueryString;
    DWORD dwNumberOfCsAddrs;
    LPCSADDR_INFO lpcsaBuffer;
    DWORD dwOutputFlags;
    LPBLOB lpBlob;
};
typedef WSAQUERYSETW* LPWSAQUERYSETW;

#define NS_BTH 16
#define AF_BTH 32
#define LUP_CONTAINERS 0x0002u
#define LUP_RETURN_NAME 0x0010u
#define LUP_RETURN_ADDR 0x0100u
#define LUP_RETURN_BLOB 0x0200u

// The Bluetooth name space: a lookup whose lpcsaBuffer names a remote device
// (SOCKADDR_BTH) and whose lpBlob holds a BTHNS_RESTRICTIONBLOB asks that
// device's service discovery server; the next result's lpBlob holds the
// remote device's response bytes (the returned records).
INT WSALookupServiceBeginW(LPWSAQUERYSETW restrictions, DWORD controlFlags, HANDLE* lookup);
INT WSALookupServiceNextW(HANDLE lookup, DWORD controlFlags, LPDWORD bufferLength, LPWSAQUERYSETW results);
INT WSALookupServiceEnd(HANDLE lookup);

// ---------------------------------------------------------------- Bluetooth addresses
typedef ULONGLONG BT_ADDR;
typedef BT_ADDR* PBT_ADDR;
struct SOCKADDR_BTH {
    USHORT addressFamily;
    BT_ADDR btAddr;
    GUID serviceClassId;
    ULONG port;
};
typedef SOCKADDR_BTH* PSOCKADDR_BTH;

// ---------------------------------------------------------------- service discovery queries
#define SDP_SERVICE_SEARCH_REQUEST 1
#define SDP_SERVICE_ATTRIBUTE_REQUEST 2
#define SDP_SERVICE_SEARCH_ATTRIBUTE_REQUEST 3
#define MAX_UUIDS_IN_QUERY 12
#define SDP_ST_NONE 0x0000
#define SDP_ST_UUID16 0x0130
#define SDP_ST_UUID32 0x0220
#define SDP_ST_UUID128 0x0430

union SdpQueryUuidUnion {
    GUID uuid128;
    ULONG uuid32;
    USHORT uuid16;
};
struct SdpQueryUuid {
    SdpQueryUuidUnion u;
    USHORT uuidType;
};
struct SdpAttributeRange {
    USHORT minAttribute;
    USHORT maxAttribute;
};
struct BTHNS_RESTRICTIONBLOB {
    ULONG type;
    ULONG serviceHandle;
    SdpQueryUuid uuids[MAX_UUIDS_IN_QUERY];
    ULONG numRange;
    SdpAttributeRange pRange[1];
};
typedef BTHNS_RESTRICTIONBLOB* PBTHNS_RESTRICTIONBLOB;

// ---------------------------------------------------------------- port emulation ("btd.dll")
// The record whose address is RegisterDevice's last argument for a
// Bluetooth virtual COM port.
#define RFCOMM_PORT_FLAGS_REMOTE_DCB 0x00000001u
#define RFCOMM_PORT_FLAGS_KEEP_DCD 0x00000002u
#define RFCOMM_PORT_FLAGS_AUTHENTICATE 0x00000004u
#define RFCOMM_PORT_FLAGS_ENCRYPT 0x00000008u
#define RFCOMM_CHANNEL_MULTIPLE 0xFE
struct PORTEMUPortParams {
    int channel;
    int flocal;
    BT_ADDR device;
    int imtu;
    int iminmtu;
    int imaxmtu;
    int isendquota;
    int irecvquota;
    GUID uuidService;
    unsigned int uiportflags;
};
