// Receiver address conversion: hosts that reach the log receivers through
// address translation replace an announced "ip:port" by another address.
// The host fills a staging map (Add) and installs it as a whole (End); the
// report session looks addresses up in the live map (Get).
//
// Thread contract: Add and End are called from one host thread (Add takes
// no lock: only that thread touches the staging map). Get may run on any
// thread concurrently with End; the live map is guarded by lock_.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "asynmodel/PeerAddress.h"
#include "tzhelper/Tzautolock.h"

class RecverAddrConverter {
 public:
  RecverAddrConverter() = default;
  RecverAddrConverter(const RecverAddrConverter&) = delete;
  RecverAddrConverter& operator=(const RecverAddrConverter&) = delete;

  // Pairs the staging map (and so the live map) may hold: about 10 MiB.
  static constexpr size_t kMaxPairs = 65536;

  // Stages srcIp:srcPort -> dstIp (at most 15 characters) : low 16 bits of
  // dstPort. A source staged earlier keeps its first value. Null texts are
  // taken as empty. False (nothing staged) for a new source while kMaxPairs
  // are staged. Host thread only, no lock.
  bool Add(const char* srcIp, int32_t srcPort, const char* dstIp, uint32_t dstPort);

  // Replaces the live map by the staged pairs (none: conversion off) and
  // empties the staging map. Host thread (the one that calls Add); takes
  // lock_.
  void End();

  // Looks up ip:port (formatted as "%s:%d", so "09000" never matches 9000).
  // On a hit copies the converted address into out and returns true; else
  // out is untouched. Any thread; takes lock_. Allocates nothing for ip
  // texts of up to 50 characters (the session's are at most 15).
  bool Get(const char* ip, int32_t port, AsynModel::PeerAddress* out) const;

  // Number of live pairs (tests and log lines). Any thread; takes lock_.
  size_t LiveSize() const;

  // The key text of an address: "%s:%d".
  static std::string Key(const char* ip, int32_t port);

 private:
  // std::less<> lets Get find a key formatted on the stack.
  typedef std::map<std::string, AsynModel::PeerAddress, std::less<>> AddrMap;

  AddrMap staging_;  // host thread only
  mutable TzLock lock_;
  AddrMap live_ TZ_GUARDED_BY(lock_);
};
