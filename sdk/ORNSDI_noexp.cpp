// Requests meant for the library's own use: the register read of the card's
// video receiver over I2C.
#include <windows.h>

#include "ORNSDI_GIS.h"
#include "ORNSDI_Log.h"

namespace {
const LogSite kReadI2C = {"\"Internal Functions\"", ORNSDI_LIBRARY, L".\\ORNSDI_noexp", "noexp_ORNSDI_ReadI2C"};
}  // namespace

DWORD noexp_ORNSDI_ReadI2C(ORNSDI_HANDLE hGrabber, BYTE port, BYTE reg, WORD* pValue) {
  ORNSDI_REQUIRE(kReadI2C, hGrabber, L"hGrabber is NULL");
  VtxReadI2CIn input{};
  input.reg = reg;
  VtxReadI2COut reply{};
  DWORD status = static_cast<ORNSDI_GIS*>(hGrabber)->Request(VTXCTL_READ_I2C, port, input, reply);
  if (IoFailureFlag(status) == 0 && pValue) *pValue = reply.value;
  return IoFailureFlag(status);
}
