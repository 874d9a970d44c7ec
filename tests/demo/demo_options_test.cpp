// Option parsing of veltrane-demo: values, ranges, and the combinations that
// are refused before anything starts.
#include <gtest/gtest.h>

#include <vector>

#include "demo_options.h"

using namespace vdemo;

namespace {

bool Parse(std::vector<const char*> args, DemoOptions* o, std::string* err) {
  args.insert(args.begin(), "veltrane-demo");
  const vpeer::CliOutcome r = ParseDemoOptions(static_cast<int>(args.size()), args.data(), o);
  *err = r.text;
  return r.Run();
}

}  // namespace

TEST(DemoOptions, BothValueForms) {
  DemoOptions o;
  std::string err;
  ASSERT_TRUE(Parse({"--count=300", "--rate", "0", "--ports", "41000-41049", "--delay", "rand:20"}, &o, &err))
      << err;
  EXPECT_EQ(300u, o.count);
  EXPECT_EQ(0u, o.rate);
  EXPECT_EQ(41000, o.portFirst);
  EXPECT_EQ(41049, o.portLast);
  EXPECT_TRUE(o.delayRandom);
  EXPECT_EQ(20u, o.delayMs);
  EXPECT_TRUE(o.FaultsActive());
}

TEST(DemoOptions, RefusesBadValues) {
  DemoOptions o;
  std::string err;
  for (auto args : std::vector<std::vector<const char*>>{
           {"--count", "-1"}, {"--count"}, {"--rate", "x"}, {"--drop", "101"}, {"--ports", "5000-5000"},
           {"--ports", "6000-5000"}, {"--ports", "0-10"}, {"--ports", "65000-65500"}, {"--timeout", "0"},
           {"--stprc", "127.0.0.1"}, {"--stprc", "127.0.0.1:0"}, {"--local", "localhost"}, {"--bogus"}}) {
    EXPECT_FALSE(Parse(args, &o, &err)) << args[0];
    EXPECT_FALSE(err.empty());
  }
}

TEST(DemoOptions, RealStprcNeedsLocalStaysOnLoopbackAndTakesNoFaults) {
  DemoOptions o;
  std::string err;
  EXPECT_FALSE(Parse({"--stprc", "127.0.0.1:7000"}, &o, &err));
  ASSERT_TRUE(Parse({"--stprc", "127.0.0.2:7000", "--local", "127.0.0.1"}, &o, &err)) << err;
  EXPECT_TRUE(o.realStprc);
  EXPECT_EQ("127.0.0.2", o.stprcIp);
  EXPECT_EQ(7000, o.stprcPort);
  EXPECT_FALSE(Parse({"--stprc", "10.0.0.1:7000", "--local", "127.0.0.1"}, &o, &err));
  EXPECT_NE(std::string::npos, err.find("--allow-remote"));
  EXPECT_FALSE(Parse({"--stprc", "127.0.0.1:7000", "--local", "10.0.0.5"}, &o, &err));
  EXPECT_TRUE(Parse({"--stprc", "10.0.0.1:7000", "--local", "10.0.0.5", "--allow-remote"}, &o, &err)) << err;
  EXPECT_FALSE(Parse({"--stprc", "127.0.0.1:7000", "--local", "127.0.0.1", "--drop", "5"}, &o, &err));
  // The embedded peer answers on loopback only, whatever --allow-remote says.
  EXPECT_FALSE(Parse({"--local", "10.0.0.5", "--allow-remote"}, &o, &err));
}
