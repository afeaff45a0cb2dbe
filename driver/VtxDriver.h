// The card's kernel-driver interface: device interface class, named events,
// I/O control codes and the packed little-endian records of its requests.
// Shared by the grabber library, which sends the requests, and by whatever
// stands in the driver's place.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// {EDDE25E4-9980-4876-9217-AD8AA1B92A03}
inline constexpr GUID VTX_INTERFACE_CLASS = {
    0xEDDE25E4, 0x9980, 0x4876, {0x92, 0x17, 0xAD, 0x8A, 0xA1, 0xB9, 0x2A, 0x03}};

inline constexpr const wchar_t* VTX_ADDED_EVENT = L"Global\\Vtx_Added_Event";
inline constexpr const wchar_t* VTX_REMOVED_EVENT = L"Global\\Vtx_Removed_Event";

inline constexpr DWORD VTX_DEVICE_TYPE = 0xCE32;
inline constexpr uint32_t VTX_NO_SESSION = 0xFFFFFFFFu;

// I/O control codes (device type 0xCE32, any access; buffered unless noted).
inline constexpr DWORD VTXCTL_OPEN_SESSION = 0xCE322040;
inline constexpr DWORD VTXCTL_SESSION_WAIT = 0xCE322044;
inline constexpr DWORD VtxCTL_GET_SLOT_INFO = 0xCE32204C;
inline constexpr DWORD VTXCTL_GET_VIDEO_STATUS = 0xCE322058;
inline constexpr DWORD VTXCTL_SET_DMA_ACCESS = 0xCE322060;
inline constexpr DWORD VTXCTL_IS_CAMERA_CONNECTED = 0xCE322068;
inline constexpr DWORD VTXCTL_REGISTER_EVENT = 0xCE32206C;
inline constexpr DWORD VTXCTL_GET_VIDEO_SIZE = 0xCE3220C0;
inline constexpr DWORD VTXCTL_GET_GRAB_STAT = 0xCE3220C4;
inline constexpr DWORD VTXCTL_READ_I2C = 0xCE322100;
inline constexpr DWORD VTXCTL_DMA_PREPARE = 0xCE322600;
inline constexpr DWORD VTXCTL_DMA_QUEUE_BUFFER = 0xCE322606;       // + 4 x channel, out-direct
inline constexpr DWORD VTXCTL_DMA_QUEUE_BUFFER_DATA = 0xCE32260E;  // + 4 x channel, out-direct
inline constexpr DWORD VTXCTL_DMA_START_GRABBING = 0xCE322614;
inline constexpr DWORD VTXCTL_DMA_STOP_GRABBING = 0xCE322618;
inline constexpr DWORD VTXCTL_DMA_LOCK_BUFFER = 0xCE322630;
inline constexpr DWORD VTXCTL_DMA_UNLOCK_BUFFER = 0xCE322634;

static_assert(CTL_CODE(VTX_DEVICE_TYPE, 0x810, METHOD_BUFFERED, FILE_ANY_ACCESS) == VTXCTL_OPEN_SESSION);
static_assert(CTL_CODE(VTX_DEVICE_TYPE, 0x981, METHOD_OUT_DIRECT, FILE_ANY_ACCESS) ==
              VTXCTL_DMA_QUEUE_BUFFER);
static_assert(CTL_CODE(VTX_DEVICE_TYPE, 0x983, METHOD_OUT_DIRECT, FILE_ANY_ACCESS) ==
              VTXCTL_DMA_QUEUE_BUFFER_DATA);

// Receiver register read over I2C for the video status.
inline constexpr BYTE VTX_I2C_VIDEO_REGISTER = 34;
inline constexpr WORD VTX_REG34_INTERLACED = 1u << 11;
inline constexpr WORD VTX_REG34_RATE_24_FAMILY = 1u << 13;

// Raw frames as the driver delivers them (VTXCTL_DMA_PREPARE's pixel format
// 0, 1 or 2): `height` rows, each at the layout's row pitch; interlaced
// frames are field 1 then field 2. In single-field mode (field mode 1 on
// interlaced video) only field 1 comes, half the rows.
inline constexpr uint32_t VTX_RAW_PACKED10 = 0;  // 10-bit Y Cb Y Cr, six samples to each 8-byte word
inline constexpr uint32_t VTX_RAW_YCRCB8 = 1;    // 8-bit Y Cb Y Cr
inline constexpr uint32_t VTX_RAW_BGR24 = 2;     // 8-bit blue, green, red

// Bytes of one raw row of `width` pixels; 0 for an unknown layout.
inline constexpr uint32_t VtxRawRowPitch(uint32_t pixelFormat, uint32_t width) {
  const uint64_t w = width;
  switch (pixelFormat) {
    case VTX_RAW_PACKED10: return static_cast<uint32_t>(8 * ((2 * w + 5) / 6));
    case VTX_RAW_YCRCB8: return static_cast<uint32_t>(((16 * w + 31) / 32) * 4);
    case VTX_RAW_BGR24: return static_cast<uint32_t>(((24 * w + 31) / 32) * 4);
    default: return 0;
  }
}

// Rows of one raw frame of a picture `height` lines high.
inline constexpr uint32_t VtxRawFrameRows(uint32_t height, bool interlaced, uint32_t fieldMode) {
  return interlaced && fieldMode == 1 ? height / 2 : height;
}

// Bytes of one raw frame; 0 for an unknown layout. 64-bit: a record's
// width and height can describe more than 4 GB.
inline constexpr uint64_t VtxRawFrameSize(uint32_t pixelFormat, uint32_t width, uint32_t height, bool interlaced,
                                          uint32_t fieldMode) {
  return uint64_t{VtxRawRowPitch(pixelFormat, width)} * VtxRawFrameRows(height, interlaced, fieldMode);
}

#pragma pack(push, 1)

// The start of every request's input.
struct VtxRequestHeader {
  uint8_t channel;
  uint32_t sessionId;
};

// Descriptor of one frame buffer, shared with the driver.
struct VtxDmaBufferData {
  uint32_t driverWord0;
  uint32_t driverWord1;
  uint32_t dmaStatus;      // 0: the buffer holds a good frame
  uint64_t bufferAddress;  // the library's address of the frame buffer
  uint8_t reserved[13];
  uint32_t bufferIndex;    // sent back with VTXCTL_DMA_UNLOCK_BUFFER
};

// Inputs.
struct VtxSetDmaAccessIn {
  VtxRequestHeader header;
  uint32_t accessMask;  // bit 8 + channel: that channel's DMA access held
};
struct VtxRegisterEventIn {
  VtxRequestHeader header;
  uint64_t eventHandle;
};
struct VtxReadI2CIn {
  VtxRequestHeader header;
  uint8_t reg;
};
struct VtxDmaPrepareIn {
  VtxRequestHeader header;
  uint8_t pixelFormat;
  uint8_t interlaced;
  uint8_t fieldMode;
  uint8_t fixed[6];  // 0, 0, 1, 0, 0, 0
};
struct VtxStartGrabbingIn {
  VtxRequestHeader header;
  uint32_t grabMode;
};
struct VtxUnlockBufferIn {
  VtxRequestHeader header;
  uint32_t bufferIndex;
};

// Replies; each begins with driverResult (0 = success).
struct VtxResult {
  uint32_t driverResult;
};
struct VtxOpenSessionOut {
  uint32_t driverResult;
  uint32_t sessionId;
};
struct VtxSlotInfoOut {
  uint32_t driverResult;
  uint32_t slotNumber;
  uint16_t slotName[256];  // UTF-16, ending in a zero character
};
struct VtxVideoStatusOut {
  uint32_t driverResult;
  uint8_t videoFormat;
  uint8_t signalPresent;
  uint8_t statusByte;
  uint8_t unused[3];
};
struct VtxCameraConnectedOut {
  uint32_t driverResult;
  uint8_t connected;  // 1 = yes
};
struct VtxVideoSizeOut {
  uint32_t driverResult;
  uint16_t width;
  uint16_t unused1;
  uint16_t height;
  uint16_t unused2;
};
struct VtxGrabStatOut {
  uint32_t driverResult;
  uint8_t words[76];  // u32 words read at +0x1C, +0x20, +0x30, +0x38 (frames per second), +0x40
};
struct VtxReadI2COut {
  uint32_t driverResult;
  uint16_t value;
};
struct VtxDmaPrepareOut {
  uint32_t driverResult;
  uint32_t bufferSize;  // bytes of one frame buffer
};
struct VtxLockBufferOut {
  uint32_t driverResult;
  VtxDmaBufferData buffer;
};

#pragma pack(pop)

// Offsets of the words the library reads in the grab statistics reply.
inline constexpr size_t VTX_GRABSTAT_FPS = 0x38;
inline constexpr size_t VTX_GRABSTAT_WORD1 = 0x40;
inline constexpr size_t VTX_GRABSTAT_WORD2 = 0x30;
inline constexpr size_t VTX_GRABSTAT_WORD3 = 0x1C;
inline constexpr size_t VTX_GRABSTAT_WORD4 = 0x20;

static_assert(sizeof(VtxRequestHeader) == 5);
static_assert(offsetof(VtxRequestHeader, sessionId) == 1);
static_assert(sizeof(VtxDmaBufferData) == 37);
static_assert(offsetof(VtxDmaBufferData, dmaStatus) == 8);
static_assert(offsetof(VtxDmaBufferData, bufferAddress) == 12);
static_assert(offsetof(VtxDmaBufferData, reserved) == 20);
static_assert(offsetof(VtxDmaBufferData, bufferIndex) == 33);
static_assert(sizeof(VtxSetDmaAccessIn) == 9);
static_assert(sizeof(VtxRegisterEventIn) == 13);
static_assert(sizeof(VtxReadI2CIn) == 6);
static_assert(sizeof(VtxDmaPrepareIn) == 14);
static_assert(sizeof(VtxStartGrabbingIn) == 9);
static_assert(sizeof(VtxUnlockBufferIn) == 9);
static_assert(sizeof(VtxOpenSessionOut) == 8);
static_assert(sizeof(VtxSlotInfoOut) == 520);
static_assert(offsetof(VtxSlotInfoOut, slotName) == 8);
static_assert(sizeof(VtxVideoStatusOut) == 10);
static_assert(sizeof(VtxCameraConnectedOut) == 5);
static_assert(sizeof(VtxVideoSizeOut) == 12);
static_assert(offsetof(VtxVideoSizeOut, height) == 8);
static_assert(sizeof(VtxGrabStatOut) == 80);
static_assert(sizeof(VtxReadI2COut) == 6);
static_assert(sizeof(VtxDmaPrepareOut) == 8);
static_assert(sizeof(VtxLockBufferOut) == 41);
