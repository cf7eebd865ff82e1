// The automation-style interfaces of the filter graph (the control.h set):
// media control, events, position, audio and video window control. IIDs are Windows'; methods in the Windows SDK order.
#pragma once

#include "platform/com/Automation.h"
#include "platform/com/Bstr.h"
#include "platform/dshow/DShowInterfaces.h"

REEL_DEFINE_GUID(IID_IMediaControl, 0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMediaPosition, 0x56A868B2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IBasicAudio, 0x56A868B3, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IVideoWindow, 0x56A868B4, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IBasicVideo, 0x56A868B5, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMediaEvent, 0x56A868B6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IMediaEventEx, 0x56A868C0, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(IID_IBasicVideo2, 0x329BB360, 0xF6EA, 0x11D1, 0x90, 0x38, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x98);

struct IMediaControl : IDispatch {
  STDMETHOD(Run)() = 0;
  STDMETHOD(Pause)() = 0;
  STDMETHOD(Stop)() = 0;
  STDMETHOD(GetState)(LONG millisecondsTimeout, OAFilterState* state) = 0;
  STDMETHOD(RenderFile)(BSTR fileName) = 0;
  STDMETHOD(AddSourceFilter)(BSTR fileName, IDispatch** filterInfo) = 0;
  STDMETHOD(get_FilterCollection)(IDispatch** collection) = 0;
  STDMETHOD(get_RegFilterCollection)(IDispatch** collection) = 0;
  STDMETHOD(StopWhenReady)() = 0;
};

struct IMediaEvent : IDispatch {
  STDMETHOD(GetEventHandle)(OAEVENT* event) = 0;
  STDMETHOD(GetEvent)(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2, LONG millisecondsTimeout) = 0;
  STDMETHOD(WaitForCompletion)(LONG millisecondsTimeout, LONG* eventCode) = 0;
  STDMETHOD(CancelDefaultHandling)(LONG eventCode) = 0;
  STDMETHOD(RestoreDefaultHandling)(LONG eventCode) = 0;
  STDMETHOD(FreeEventParams)(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;
};

constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

struct IMediaEventEx : IMediaEvent {
  STDMETHOD(SetNotifyWindow)(OAHWND window, LONG message, LONG_PTR instanceData) = 0;
  STDMETHOD(SetNotifyFlags)(LONG noNotifyFlags) = 0;
  STDMETHOD(GetNotifyFlags)(LONG* noNotifyFlags) = 0;
};

struct IMediaPosition : IDispatch {
  STDMETHOD(get_Duration)(REFTIME* length) = 0;
  STDMETHOD(put_CurrentPosition)(REFTIME time) = 0;
  STDMETHOD(get_CurrentPosition)(REFTIME* time) = 0;
  STDMETHOD(get_StopTime)(REFTIME* time) = 0;
  STDMETHOD(put_StopTime)(REFTIME time) = 0;
  STDMETHOD(get_PrerollTime)(REFTIME* time) = 0;
  STDMETHOD(put_PrerollTime)(REFTIME time) = 0;
  STDMETHOD(put_Rate)(double rate) = 0;
  STDMETHOD(get_Rate)(double* rate) = 0;
  STDMETHOD(CanSeekForward)(LONG* canSeek) = 0;
  STDMETHOD(CanSeekBackward)(LONG* canSeek) = 0;
};

// Volume in hundredths of a decibel, 0 (full) down to -10000 (silence);
// balance -10000 (left) to 10000 (right).
struct IBasicAudio : IDispatch {
  STDMETHOD(put_Volume)(LONG volume) = 0;
  STDMETHOD(get_Volume)(LONG* volume) = 0;
  STDMETHOD(put_Balance)(LONG balance) = 0;
  STDMETHOD(get_Balance)(LONG* balance) = 0;
};

struct IVideoWindow : IDispatch {
  STDMETHOD(put_Caption)(BSTR caption) = 0;
  STDMETHOD(get_Caption)(BSTR* caption) = 0;
  STDMETHOD(put_WindowStyle)(LONG style) = 0;
  STDMETHOD(get_WindowStyle)(LONG* style) = 0;
  STDMETHOD(put_WindowStyleEx)(LONG style) = 0;
  STDMETHOD(get_WindowStyleEx)(LONG* style) = 0;
  STDMETHOD(put_AutoShow)(LONG autoShow) = 0;
  STDMETHOD(get_AutoShow)(LONG* autoShow) = 0;
  STDMETHOD(put_WindowState)(LONG state) = 0;
  STDMETHOD(get_WindowState)(LONG* state) = 0;
  STDMETHOD(put_BackgroundPalette)(LONG palette) = 0;
  STDMETHOD(get_BackgroundPalette)(LONG* palette) = 0;
  STDMETHOD(put_Visible)(LONG visible) = 0;
  STDMETHOD(get_Visible)(LONG* visible) = 0;
  STDMETHOD(put_Left)(LONG left) = 0;
  STDMETHOD(get_Left)(LONG* left) = 0;
  STDMETHOD(put_Width)(LONG width) = 0;
  STDMETHOD(get_Width)(LONG* width) = 0;
  STDMETHOD(put_Top)(LONG top) = 0;
  STDMETHOD(get_Top)(LONG* top) = 0;
  STDMETHOD(put_Height)(LONG height) = 0;
  STDMETHOD(get_Height)(LONG* height) = 0;
  STDMETHOD(put_Owner)(OAHWND owner) = 0;
  STDMETHOD(get_Owner)(OAHWND* owner) = 0;
  STDMETHOD(put_MessageDrain)(OAHWND drain) = 0;
  STDMETHOD(get_MessageDrain)(OAHWND* drain) = 0;
  STDMETHOD(get_BorderColor)(LONG* color) = 0;
  STDMETHOD(put_BorderColor)(LONG color) = 0;
  STDMETHOD(get_FullScreenMode)(LONG* fullScreen) = 0;
  STDMETHOD(put_FullScreenMode)(LONG fullScreen) = 0;
  STDMETHOD(SetWindowForeground)(LONG focus) = 0;
  STDMETHOD(NotifyOwnerMessage)(OAHWND window, LONG message, LONG_PTR wParam, LONG_PTR lParam) = 0;
  STDMETHOD(SetWindowPosition)(LONG left, LONG top, LONG width, LONG height) = 0;
  STDMETHOD(GetWindowPosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(GetMinIdealImageSize)(LONG* width, LONG* height) = 0;
  STDMETHOD(GetMaxIdealImageSize)(LONG* width, LONG* height) = 0;
  STDMETHOD(GetRestorePosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(HideCursor)(LONG hide) = 0;
  STDMETHOD(IsCursorHidden)(LONG* hidden) = 0;
};

struct IBasicVideo : IDispatch {
  STDMETHOD(get_AvgTimePerFrame)(REFTIME* time) = 0;
  STDMETHOD(get_BitRate)(LONG* rate) = 0;
  STDMETHOD(get_BitErrorRate)(LONG* rate) = 0;
  STDMETHOD(get_VideoWidth)(LONG* width) = 0;
  STDMETHOD(get_VideoHeight)(LONG* height) = 0;
  STDMETHOD(put_SourceLeft)(LONG value) = 0;
  STDMETHOD(get_SourceLeft)(LONG* value) = 0;
  STDMETHOD(put_SourceWidth)(LONG value) = 0;
  STDMETHOD(get_SourceWidth)(LONG* value) = 0;
  STDMETHOD(put_SourceTop)(LONG value) = 0;
  STDMETHOD(get_SourceTop)(LONG* value) = 0;
  STDMETHOD(put_SourceHeight)(LONG value) = 0;
  STDMETHOD(get_SourceHeight)(LONG* value) = 0;
  STDMETHOD(put_DestinationLeft)(LONG value) = 0;
  STDMETHOD(get_DestinationLeft)(LONG* value) = 0;
  STDMETHOD(put_DestinationWidth)(LONG value) = 0;
  STDMETHOD(get_DestinationWidth)(LONG* value) = 0;
  STDMETHOD(put_DestinationTop)(LONG value) = 0;
  STDMETHOD(get_DestinationTop)(LONG* value) = 0;
  STDMETHOD(put_DestinationHeight)(LONG value) = 0;
  STDMETHOD(get_DestinationHeight)(LONG* value) = 0;
  STDMETHOD(SetSourcePosition)(LONG left, LONG top, LONG width, LONG height) = 0;
  STDMETHOD(GetSourcePosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(SetDefaultSourcePosition)() = 0;
  STDMETHOD(SetDestinationPosition)(LONG left, LONG top, LONG width, LONG height) = 0;
  STDMETHOD(GetDestinationPosition)(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
  STDMETHOD(SetDefaultDestinationPosition)() = 0;
  STDMETHOD(GetVideoSize)(LONG* width, LONG* height) = 0;
  STDMETHOD(GetVideoPaletteEntries)(LONG startIndex, LONG entries, LONG* retrieved, LONG* palette) = 0;
  STDMETHOD(GetCurrentImage)(LONG* bufferSize, LONG* image) = 0;
  STDMETHOD(IsUsingDefaultSource)() = 0;
  STDMETHOD(IsUsingDefaultDestination)() = 0;
};

struct IBasicVideo2 : IBasicVideo {
  STDMETHOD(GetPreferredAspectRatio)(LONG* aspectX, LONG* aspectY) = 0;
};

namespace reel {
template <> inline constexpr const IID& kIidOf<IMediaControl> = IID_IMediaControl;
template <> inline constexpr const IID& kIidOf<IMediaEvent> = IID_IMediaEvent;
template <> inline constexpr const IID& kIidOf<IMediaEventEx> = IID_IMediaEventEx;
template <> inline constexpr const IID& kIidOf<IMediaPosition> = IID_IMediaPosition;
template <> inline constexpr const IID& kIidOf<IBasicAudio> = IID_IBasicAudio;
template <> inline constexpr const IID& kIidOf<IVideoWindow> = IID_IVideoWindow;
template <> inline constexpr const IID& kIidOf<IBasicVideo> = IID_IBasicVideo;
template <> inline constexpr const IID& kIidOf<IBasicVideo2> = IID_IBasicVideo2;
}  // namespace reel
