// The receiver address conversion map: any sequence of Add calls (texts and
// ports of any content), End, then lookups. The oracle is a plain model: the
// first Add of a source wins, the value keeps at most 15 characters of the
// destination and the low 16 bits of its port, and nothing else is found.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>
#include <utility>

#include "api/RecverAddrConverter.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  RecverAddrConverter map;
  std::map<std::string, std::pair<std::string, uint16_t>> model;
  std::vector<std::pair<std::string, int32_t>> sources;
  const int adds = in.ConsumeIntegralInRange<int>(0, 24);
  for (int i = 0; i < adds; ++i) {
    const std::string src = in.ConsumeRandomLengthString(40);
    const int32_t srcPort = in.ConsumeIntegral<int32_t>();
    const std::string dst = in.ConsumeRandomLengthString(40);
    const uint32_t dstPort = in.ConsumeIntegral<uint32_t>();
    map.Add(src.c_str(), srcPort, dst.c_str(), dstPort);
    const std::string cut = std::string(dst.c_str()).substr(0, 15);
    model.emplace(RecverAddrConverter::Key(src.c_str(), srcPort),
                  std::make_pair(cut, static_cast<uint16_t>(dstPort & 0xFFFFu)));
    sources.emplace_back(src, srcPort);
  }
  map.End();
  FUZZ_CHECK(map.LiveSize() == model.size());

  for (const auto& s : sources) {
    AsynModel::PeerAddress out;
    FUZZ_CHECK(map.Get(s.first.c_str(), s.second, &out));
    const auto& want = model.at(RecverAddrConverter::Key(s.first.c_str(), s.second));
    FUZZ_CHECK(want.first == out.udp_ip && want.second == out.udp_port && out.kind == 0);
  }
  while (in.remaining_bytes() > 0) {
    const std::string ip = in.ConsumeRandomLengthString(80);
    const int32_t port = in.ConsumeIntegral<int32_t>();
    AsynModel::PeerAddress out;
    const bool found = map.Get(ip.c_str(), port, &out);
    FUZZ_CHECK(found == (model.count(RecverAddrConverter::Key(ip.c_str(), port)) == 1));
  }
  return 0;
}
