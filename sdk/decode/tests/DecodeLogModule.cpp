// A module holding the decoder and the logging start-up, as the grabber
// library is built: the start-up reads the logging configuration when the
// module loads. It exports the decoder's two reporting entry points under
// names of its own for the log test.
#include <windows.h>

#include "Log.h"
#include "ORNSDI.h"

extern "C" __declspec(dllexport) uint32_t ProbeDecode(const ORNSDI_CameraData* cameraData, const void* pRawPixels,
                                                      void* pOutBuffer, int32_t* pStrideSize, int32_t decodeFormat) {
  return ORNSDI_Decode(cameraData, pRawPixels, pOutBuffer, pStrideSize, decodeFormat);
}

extern "C" __declspec(dllexport) uint32_t ProbeDefaults(ORNSDI_CSC_PARAMS* pCSC) {
  return ORNSDI_GetDefaultColorSpaceConverterParams(pCSC);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) LogSetModuleInstance(instance);
  return TRUE;
}
