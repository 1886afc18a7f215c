// Windows calls answered as Windows documents them, where Wine answers more.
// A green run under Wine proves nothing about a call that Windows refuses, so
// the test build of the host's Windows code is compiled with this header
// forced in first (-include), and each wrapper below takes the place of its
// call. The packages are built without it.
//
// One wrapper per documented rule, each naming its source. When Wine is
// found forgiving another rule the host relies on, its wrapper joins these.
#ifndef TESTING_WINDOWS_RULES_H_
#define TESTING_WINDOWS_RULES_H_

#include "win/handles.h"
// windows.h and winsock2.h come first, through win/handles.h.
#include <ws2ipdef.h>
// clang-format off
#include <iphlpapi.h>
// clang-format on

namespace windows_rules {

// GetExtendedTcpTable: the TCP_TABLE_BASIC_* classes exist for AF_INET only;
// with AF_INET6 Windows answers ERROR_NOT_SUPPORTED (learn.microsoft.com,
// "GetExtendedTcpTable function" and "TCP_TABLE_CLASS enumeration"). Wine
// fills the table.
inline DWORD WINAPI GetExtendedTcpTable(PVOID table, PDWORD size, BOOL order,
                                        ULONG family, TCP_TABLE_CLASS kind,
                                        ULONG reserved) {
  const bool basic = kind == TCP_TABLE_BASIC_LISTENER ||
                     kind == TCP_TABLE_BASIC_CONNECTIONS ||
                     kind == TCP_TABLE_BASIC_ALL;
  if (family == AF_INET6 && basic) return ERROR_NOT_SUPPORTED;
  return ::GetExtendedTcpTable(table, size, order, family, kind, reserved);
}

}  // namespace windows_rules

#define GetExtendedTcpTable windows_rules::GetExtendedTcpTable

#endif  // TESTING_WINDOWS_RULES_H_
