// Receiver configuration: "/qosRecverIP.txt" in the config directory, the
// fixed receiver address it sets, and the receiver address conversion map.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "api/DirectRecverAddr.h"
#include "api/RecverAddrConverter.h"
#include "api/RecverFileParser.h"
#include "platform/log.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The receiver file in a fresh directory.
class ConfigDir : public TempDir {
 public:
  void Write(const std::string& content) const {
    FILE* f = fopen((path() / "qosRecverIP.txt").string().c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }
};

DirectRecverAddr::Value LoadFrom(const ConfigDir& dir, const std::string& content) {
  dir.Write(content);
  DirectRecverAddr target;
  EXPECT_TRUE(RecverFile::LoadRecverFile(dir.str().c_str(), &target));
  return target.Get();
}

}  // namespace

// Only the first token counts, and only its first 63 characters.
TEST(RecverConfigFile, FileContentsGiveTheAddress) {
  const std::string sevens = std::string(150, '7') + ":8000" + std::string(45, 'x');
  struct Case {
    std::string content;
    std::string ip;  // "?": not checked
    uint16_t port;
  };
  const Case cases[] = {
      {"10.1.2.3:7000\n", "10.1.2.3", 7000},
      {"  \n\t192.168.1.20:7000 10.0.0.1:1\n", "192.168.1.20", 7000},
      {sevens, std::string(63, '7'), 0},  // the colon lies beyond what is read
      {"10.1.2.3", "10.1.2.3", 10},       // no colon: the leading number
      {"10.1.2.3:", "10.1.2.3", 0},
      {"10.1.2.3:80:90", "10.1.2.3", 80},  // the first colon
      {":7000", "", 7000},
      // Out of 1..65535 is no port (it used to be cut to 16 bits).
      {"h:70000", "h", 0},
      {"h:-1", "h", 0},
      {"h:99999999999", "h", 0},
      {"h:65535", "h", 65535},
      {"h:abc", "h", 0},
  };
  ConfigDir dir;
  LogCapture cap;
  for (const Case& c : cases) {
    const DirectRecverAddr::Value v = LoadFrom(dir, c.content);
    EXPECT_EQ(c.ip, v.ip) << c.content;
    EXPECT_EQ(c.port, v.port) << c.content;
  }
  ASSERT_GE(cap.Lines().size(), 2u);
  const LogLine first[2] = {cap.Lines()[0], cap.Lines()[1]};
  EXPECT_EQ("[Kelvarn]从配置文件解析服务器地址,直发文件的路径:" + dir.str() + "/qosRecverIP.txt",
            first[0].text);
  EXPECT_EQ("[Kelvarn]从配置文件解析服务器地址 ip:10.1.2.3,port:7000", first[1].text);
  EXPECT_EQ(Log::kWarning, first[1].level);
  EXPECT_EQ(1u, first[1].category);
  EXPECT_EQ(3025u, first[1].subType);
}

TEST(RecverConfigFile, EmptyFileSwitchesTheAddressOffAndAMissingOneKeepsIt) {
  ConfigDir dir;
  DirectRecverAddr target;
  target.Set("1.1.1.1", 5);
  LogCapture cap;
  EXPECT_FALSE(RecverFile::LoadRecverFile(dir.str().c_str(), &target));
  EXPECT_STREQ("1.1.1.1", target.Get().ip);
  EXPECT_EQ(5, target.Get().port);
  EXPECT_EQ(1u, cap.Count("[Kelvarn]从配置文件解析服务器地址,打开直发文件失败"));
  EXPECT_FALSE(RecverFile::LoadRecverFile(nullptr, &target));
  // A directory of that name opened but could not be read, and switched the
  // address off; an unreadable path changes nothing.
  fs::create_directory(fs::path(dir.str()) / "qosRecverIP.txt");
  EXPECT_FALSE(RecverFile::LoadRecverFile(dir.str().c_str(), &target));
  EXPECT_EQ(5, target.Get().port);
  fs::remove(fs::path(dir.str()) / "qosRecverIP.txt");

  dir.Write("");
  EXPECT_TRUE(RecverFile::LoadRecverFile(dir.str().c_str(), &target));
  EXPECT_STREQ("", target.Get().ip);
  EXPECT_EQ(0, target.Get().port);
  EXPECT_TRUE(cap.Contains("[Kelvarn]从配置文件解析服务器地址 ip:,port:0"));
}

TEST(RecverAddrConverter, FirstAddWinsEndReplacesTheMapAndKeysAreText) {
  RecverAddrConverter c;
  const std::string longIp(100, '1');
  c.Add("10.0.0.1", 9000, "192.168.0.1", 7000);
  c.Add("10.0.0.1", 9000, "192.168.0.2", 7001);
  c.Add(longIp.c_str(), 1, "this-is-far-longer-than-fifteen", 2);
  c.Add(nullptr, 3, nullptr, 4);
  AsynModel::PeerAddress out;
  EXPECT_FALSE(c.Get("10.0.0.1", 9000, &out));  // staged only
  c.End();
  ASSERT_TRUE(c.Get("10.0.0.1", 9000, &out));
  EXPECT_STREQ("192.168.0.1", out.udp_ip);
  EXPECT_EQ(7000, out.udp_port);
  EXPECT_EQ(3u, c.LiveSize());
  ASSERT_TRUE(c.Get(longIp.c_str(), 1, &out));
  EXPECT_STREQ("this-is-far-lon", out.udp_ip);
  ASSERT_TRUE(c.Get(nullptr, 3, &out));
  EXPECT_STREQ("", out.udp_ip);
  EXPECT_EQ(4, out.udp_port);
  EXPECT_FALSE(c.Get("10.0.0.01", 9000, &out));
  EXPECT_FALSE(c.Get("10.0.0.1", 9001, &out));
  EXPECT_EQ(4, out.udp_port);  // a miss leaves out alone

  c.Add("10.0.0.2", 9000, "192.168.0.2", 0x12345678u);  // low 16 bits
  c.End();
  EXPECT_FALSE(c.Get("10.0.0.1", 9000, &out));
  ASSERT_TRUE(c.Get("10.0.0.2", 9000, &out));
  EXPECT_EQ(0x5678, out.udp_port);
  c.End();  // nothing staged: conversion off
  EXPECT_EQ(0u, c.LiveSize());
  EXPECT_FALSE(c.Get("10.0.0.2", 9000, &out));
}
