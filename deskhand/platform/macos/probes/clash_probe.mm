// Never built: check_availability.sh compiles it through the syntax check
// with one PROBE_ macro defined at a time, to prove that the check rejects
// what a Mac would reject (and accepts the correct form of the same code).
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#if defined(PROBE_GLOBAL_RECT) || defined(PROBE_QUALIFIED_RECT)
#include "platform/platform.hpp"
#endif

#if defined(PROBE_UNGUARDED_METHOD)
BOOL probe(NSRunningApplication* application, NSRunningApplication* source) {
  return [application activateFromApplication:source options:0];
}
#elif defined(PROBE_UNGUARDED_PROPERTY)
void probe(SCStreamConfiguration* configuration) { configuration.ignoreGlobalClipSingleWindow = YES; }
#elif defined(PROBE_GUARDED)
BOOL probe(NSRunningApplication* application, NSRunningApplication* source, SCStreamConfiguration* configuration) {
  if (@available(macOS 14.0, *)) {
    configuration.ignoreGlobalClipSingleWindow = YES;
    return [application activateFromApplication:source options:0];
  }
  return [application activateWithOptions:0];
}
#elif defined(PROBE_GLOBAL_RECT)
using namespace deskhand;
double probe(const Rect& frame) { return frame.width; }
#elif defined(PROBE_QUALIFIED_RECT)
using namespace deskhand;
double probe(const deskhand::Rect& frame) { return frame.width; }
#elif defined(PROBE_CHECK_NAME)
namespace deskhand {
bool check(int value) { return value > 0; }
}  // namespace deskhand
#endif
