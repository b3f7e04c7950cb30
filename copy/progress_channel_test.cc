#include "copy/progress_channel.h"

#include <gtest/gtest.h>

#include <thread>

namespace qorv {
namespace {

TEST(ProgressChannelTest, SetJobKeepsTheMessageAndEndsTargetsWithASlash) {
  ProgressChannel channel;
  channel.Init();
  channel.Post(0, WideString(u"Preparing to copy..."), 0);
  channel.Post(5, WideString(u"Preparing to copy..."), 40);

  struct Case {
    const char16_t* given;
    const char16_t* stored;
  } cases[] = {{u"/t/tmplts", u"/t/tmplts/"},
               {u"/t/tmplts/", u"/t/tmplts/"},
               {u"C:\\t\\", u"C:\\t\\"},
               {u"", u""}};
  for (const Case& c : cases) {
    channel.SetJob(nullptr, WideString(c.given));
    KitReader* reader = reinterpret_cast<KitReader*>(1);
    WideString target;
    channel.GetJob(&reader, &target);
    EXPECT_EQ(reader, nullptr);
    EXPECT_TRUE(target.equals(c.stored));

    uint32_t code = 99;
    WideString message;
    int percent = -1;
    channel.Read(&code, &message, &percent);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(percent, 0);
    EXPECT_TRUE(message.equals(u"Preparing to copy..."));
  }
}

TEST(ProgressChannelTest, CancelIsClearedByTheNextJob) {
  ProgressChannel channel;
  channel.Init();
  EXPECT_FALSE(channel.IsCancelRequested());
  channel.RequestCancel();
  EXPECT_TRUE(channel.IsCancelRequested());
  channel.SetJob(nullptr, WideString(u"/t"));
  EXPECT_FALSE(channel.IsCancelRequested());
}

// Reports cross threads whole: a reader never sees one post's code with
// another post's message or percent.
TEST(ProgressChannelTest, ReportsAreReadWholeAcrossThreads) {
  ProgressChannel channel;
  channel.Init();
  channel.Post(0, WideString(u"entry 0 of a long path name"), 0);
  std::thread poster([&] {
    for (int i = 1; i <= 20000; ++i) {
      WideString message(u"entry ");
      message.append(fromInteger(i, 10));
      message.append(WideString(u" of a long path name"));
      channel.Post(static_cast<uint32_t>(i), message, i % 100);
    }
  });
  for (int reads = 0; reads < 20000; ++reads) {
    uint32_t code;
    WideString message;
    int percent;
    channel.Read(&code, &message, &percent);
    WideString expected(u"entry ");
    expected.append(fromInteger(static_cast<int32_t>(code), 10));
    expected.append(WideString(u" of a long path name"));
    ASSERT_TRUE(message == expected);
    ASSERT_EQ(percent, static_cast<int>(code % 100));
  }
  poster.join();
}

}  // namespace
}  // namespace qorv
