/* ORNSDI: the grabber library of the Vantrel HD-SDI capture card.
 * Plain C interface: find a card, open a session on it, read the camera
 * status, grab frames by DMA on a thread of the library and decode them.
 * Every function returns a 32-bit status (ORNSDI_OK on success). */
#ifndef ORNSDI_H
#define ORNSDI_H

#include <stddef.h>
#include <stdint.h>

#if defined(ORNSDI_SHARED_BUILD)
#if defined(_WIN32)
#define ORNSDI_API __declspec(dllexport)
#else
#define ORNSDI_API __attribute__((visibility("default")))
#endif
#else
#define ORNSDI_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
#define ORNSDI_OK 0u
#define ORNSDI_ERR_ARGUMENT 1u      /* bad argument; also a decoder stride query */
#define ORNSDI_NO_MORE_DEVICES 3u
#define ORNSDI_ERR_MEMORY 5u
#define ORNSDI_ERR_NO_DMA_ACCESS 253u
#define ORNSDI_ERR_RAW_FORMAT 254u  /* raw layout other than 0, 1 or 2 */
#define ORNSDI_ERR_FAILED 255u      /* driver request failed, or the grab did not start */

/* Frame status of a grab callback when the video format changed; the grab has stopped. */
#define ORNSDI_FRAME_FORMAT_CHANGED 32u

/* Session handle: an opaque pointer; NULL means no session. */
typedef void* ORNSDI_HANDLE;
typedef void* ORNSDI_ENUM_HANDLE;

/* Pixel formats: raw layout asked of the card, and output format of the decoder. */
typedef uint32_t ORNSDI_PIXEL_FORMAT;
#define ORNSDI_PIXFMT_YCRCB422_10 0u /* six 10-bit samples per 64-bit word; decoded: u16 per sample */
#define ORNSDI_PIXFMT_YCRCB422_8 1u  /* Y0 Cb Y1 Cr bytes */
#define ORNSDI_PIXFMT_BGR24 2u       /* blue, green, red bytes */

typedef struct ORNSDI_CameraStatus {
  uint32_t videoFormat;  /* driver's code; 0xFE and 0xFF: not settled yet */
  uint32_t interlaced;   /* 1 when interlaced */
  uint8_t frameRate;     /* rounded frames per second (fields for interlaced video) */
  uint16_t width;        /* pixels per line */
  uint16_t height;       /* lines per frame */
  uint8_t statusByte;    /* driver status byte, passed through */
  uint8_t signalPresent; /* nonzero while a video signal is present */
} ORNSDI_CameraStatus;

typedef struct ORNSDI_CameraData {
  uint32_t pixelFormat; /* raw layout the card is asked to deliver */
  uint32_t fieldMode;   /* 1: decode one field as a half-height image */
  ORNSDI_CameraStatus status;
} ORNSDI_CameraData;

/* driverWord0 and driverWord1 are the driver's two words of the filled
 * buffer's descriptor, passed on unchanged; the library does not read them.
 * The driver puts there (the simulated one does, a real one must):
 * driverWord0 the frame number, counting every frame the card captured while
 * grabbing, dropped ones too, so a gap between two callbacks counts the frames
 * lost; driverWord1 the capture time in microseconds, modulo 2^32. Both are 0
 * when status is not 0. */
typedef struct ORNSDI_FrameInfo {
  uint32_t driverWord0; /* frame number */
  uint32_t driverWord1; /* capture time, microseconds modulo 2^32 */
  const void* rawFrame; /* the DMA buffer; valid only during the callback */
  uint32_t bufferSize;
  uint32_t status;      /* 0 frame; ORNSDI_FRAME_FORMAT_CHANGED; other: DMA error */
} ORNSDI_FrameInfo;

/* Called on the library's grab thread, one call at a time per session; the
 * buffer stays the caller's until the call returns. ORNSDI_Done and
 * ORNSDI_StartGrab called from it are refused with ORNSDI_ERR_FAILED. */
typedef void (*ORNSDI_FrameCallback)(void* context, ORNSDI_FrameInfo* frameInfo);

/* The driver's grab statistics (VTXCTL_GET_GRAB_STAT), copied from the
 * reply's words at +0x38, +0x40, +0x30, +0x1C and +0x20. Only framesPerSecond
 * is used by the library; the four statWords are passed through as the driver
 * counts them. The simulated driver's counts are given with each word. */
typedef struct ORNSDI_GrabStat {
  uint32_t framesPerSecond; /* +0x38: frames of the last second, measured by the driver */
  uint32_t statWord1;       /* +0x40: frames captured while grabbing, delivered or dropped */
  uint32_t statWord2;       /* +0x30: frames delivered with a DMA error */
  uint32_t statWord3;       /* +0x1C: frames delivered into a buffer, DMA errors included */
  uint32_t statWord4;       /* +0x20: frames dropped for want of a free buffer */
} ORNSDI_GrabStat;

typedef struct ORNSDI_EnumData {
  uint32_t size;          /* 24; set by the caller */
  uint32_t slotNumber;
  void* detailBlock;      /* u32 size, then the UTF-16 device path; owned by the enumerator */
  const wchar_t* slotName; /* owned by the enumerator; may be NULL */
} ORNSDI_EnumData;

typedef struct ORNSDI_CSC_PARAMS {
  int32_t yOffset;
  int32_t crOffset;
  int32_t cbOffset;
  float yGain;
  float crToR;
  float crToG;
  float cbToG;
  float cbToB;
  uint8_t rMin;
  uint8_t rMax;
  uint8_t gMin;
  uint8_t gMax;
  uint8_t bMin;
  uint8_t bMax;
  int8_t rBias;
  int8_t gBias;
  int8_t bBias;
  float rGain;
  float gGain;
  float bGain;
} ORNSDI_CSC_PARAMS;

/* Sessions and enumeration. */
ORNSDI_API ORNSDI_HANDLE ORNSDI_Init(void);
ORNSDI_API ORNSDI_HANDLE ORNSDI_InitByHandle(const void* detailBlock);
ORNSDI_API uint32_t ORNSDI_Done(ORNSDI_HANDLE hGrabber);
/* Listing the cards, for a caller that wants to choose one: ORNSDI_EnumOpen
 * lists them (ORNSDI_NO_MORE_DEVICES and a NULL handle when there is none),
 * ORNSDI_EnumNext hands out one record per call (set its size to
 * sizeof(ORNSDI_EnumData) first), ORNSDI_InitByHandle opens the card of a
 * record, and ORNSDI_EnumClose frees the list and every record's texts. */
ORNSDI_API uint32_t ORNSDI_EnumOpen(ORNSDI_ENUM_HANDLE* phDevEnum);
ORNSDI_API uint32_t ORNSDI_EnumNext(ORNSDI_ENUM_HANDLE hDevEnum, ORNSDI_EnumData* pEnumData);
ORNSDI_API uint32_t ORNSDI_EnumClose(ORNSDI_ENUM_HANDLE hDevEnum);

/* Camera status. */
ORNSDI_API uint32_t ORNSDI_GetCameraStatus(ORNSDI_HANDLE hGrabber, uint8_t port,
                                           ORNSDI_CameraStatus* pCameraStatus);
ORNSDI_API uint32_t ORNSDI_IsCameraConnected(ORNSDI_HANDLE hGrabber, uint8_t port, uint8_t* pConnected);
ORNSDI_API uint32_t ORNSDI_GetGrabStat(ORNSDI_HANDLE hGrabber, uint8_t port, ORNSDI_GrabStat* pGrabStat);

/* DMA access and grabbing. */
ORNSDI_API uint32_t ORNSDI_GetDMAAccess(ORNSDI_HANDLE hGrabber, uint8_t port);
ORNSDI_API uint32_t ORNSDI_ReleaseDMAAccess(ORNSDI_HANDLE hGrabber, uint8_t port);
ORNSDI_API uint32_t ORNSDI_StartGrab(ORNSDI_HANDLE hGrabber, uint8_t port, uint32_t grabMode,
                                     ORNSDI_CameraData* pCameraData, ORNSDI_FrameCallback callback,
                                     void* context);
ORNSDI_API uint32_t ORNSDI_StopGrab(ORNSDI_HANDLE hGrabber, uint8_t port);

/* Decoding. */
ORNSDI_API uint32_t ORNSDI_Decode(const ORNSDI_CameraData* cameraData, const void* pRawPixels,
                                  void* pOutBuffer, int32_t* pStrideSize, int32_t decodeFormat);
ORNSDI_API uint32_t ORNSDI_GetDefaultColorSpaceConverterParams(ORNSDI_CSC_PARAMS* pCSC);

#ifdef __cplusplus
}
#endif

#endif /* ORNSDI_H */
