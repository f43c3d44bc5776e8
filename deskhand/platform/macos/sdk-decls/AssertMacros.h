// AssertMacros.h: ApplicationServices brings in the lower-case assertion
// macros with it (the SDK defines them unless
// __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES is 0). A function or
// member of the helper named check, verify or require would be rewritten by
// them on a Mac; declaring them here makes it fail the syntax check instead.
#pragma once

#ifndef __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES
#define __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES 1
#endif

#define __Check(assertion) ((void)(assertion))
#define __Verify(assertion) ((void)(assertion))
#define __Require(assertion, exceptionLabel) \
  do {                                       \
    if (!(assertion)) goto exceptionLabel;   \
  } while (0)

#if __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES
#ifndef check
#define check(assertion) __Check(assertion)
#endif
#ifndef verify
#define verify(assertion) __Verify(assertion)
#endif
#ifndef require
#define require(assertion, exceptionLabel) __Require(assertion, exceptionLabel)
#endif
#endif
