// Placeholders until the scan transfers land; removed by the change that adds them.
#include "scan/scan_limits.h"
#include "tapbroker_client.h"

const char* scanArgumentRefused(int, va_list) { return nullptr; }
int Client::JTAGInterfaceFunc(SOCKET&, va_list) { return -1; }
int Client::sendShiftargs(SOCKET, va_list) { return -1; }
int Client::sendI2CShiftargs(SOCKET&, int, int, va_list) { return -1; }
int Client::sendSSPIShiftargs(SOCKET&, int, int, va_list) { return -1; }
int Client::sendPumpData(SOCKET&, va_list) { return -1; }
int Client::sendSharedApps(SOCKET&, va_list) { return -1; }
int Client::GetTDO(unsigned char*&, int) { return -1022; }
int Client::GetTDO(char*, int) { return -1022; }
