// A list of counted references to records that carry a u64 guid, kept in
// insertion order, with an ordered index from guid to list position. Every
// element has exactly one index entry and every index entry names one
// element; a guid occurs at most once.
//
// Threads: no lock of its own; the owner locks around every call (the
// call-log cache holds a reader/writer lock per list).
#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <map>
#include <new>

#include "tzhelper/TzRefCounter.h"

// The lines the list writes (facade channel), kept out of the template.
namespace simple_index_list_log {
void DuplicateGuid(uint64_t guid);
void PushedBack(uint64_t guid, size_t listSize, size_t mapSize);
void EraseByGuid(uint64_t guid);
void EraseAt(uint64_t guid);
}  // namespace simple_index_list_log

template <class T>
class SimpleIndexList {
 public:
  using Ref = TzSptr<T>;
  // One element: the guid it is indexed under and the list's reference.
  struct Item {
    uint64_t guid;
    Ref record;
  };
  using iterator = typename std::list<Item>::iterator;
  using const_iterator = typename std::list<Item>::const_iterator;

  SimpleIndexList() = default;
  SimpleIndexList(const SimpleIndexList&) = delete;
  SimpleIndexList& operator=(const SimpleIndexList&) = delete;

  // Appends record under guid. The list takes a reference of its own; the
  // caller keeps its reference in every case. 0 appended; -1 when the guid is
  // already in the list (with a warning) or when no memory is left (silent).
  int push_back(uint64_t guid, const Ref& record) {
    if (m_index.count(guid) != 0) {
      simple_index_list_log::DuplicateGuid(guid);
      return -1;
    }
    try {
      m_list.push_back(Item{guid, record});
      try {
        m_index.emplace(guid, std::prev(m_list.end()));
      } catch (const std::bad_alloc&) {
        m_list.pop_back();
        return -1;
      }
    } catch (const std::bad_alloc&) {
      return -1;
    }
    simple_index_list_log::PushedBack(guid, m_list.size(), m_index.size());
    return 0;
  }

  // Removes the record indexed under guid and drops the list's reference.
  // 0 removed, -1 not in the list.
  int erase(uint64_t guid) {
    simple_index_list_log::EraseByGuid(guid);
    auto it = m_index.find(guid);
    if (it == m_index.end()) return -1;
    m_list.erase(it->second);
    m_index.erase(it);
    return 0;
  }

  // Removes the element at pos (which must be an element of this list) and
  // its index entry, dropping the list's reference. Returns the position
  // after it.
  iterator erase(iterator pos) {
    simple_index_list_log::EraseAt(pos->guid);
    m_index.erase(pos->guid);
    return m_list.erase(pos);
  }

  size_t size() const { return m_list.size(); }
  bool empty() const { return m_list.empty(); }
  // Index entries; equal to size() at every step (tests check it).
  size_t index_size() const { return m_index.size(); }
  iterator begin() { return m_list.begin(); }
  iterator end() { return m_list.end(); }
  const_iterator begin() const { return m_list.begin(); }
  const_iterator end() const { return m_list.end(); }
  // Drops every reference the list holds.
  void clear() {
    m_index.clear();
    m_list.clear();
  }

 private:
  std::list<Item> m_list;
  std::map<uint64_t, iterator> m_index;
};
