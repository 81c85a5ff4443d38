// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Typed readers and writers for common shapes: an element's text, maps and lists.
//
// They follow the shape described in OVLMessageIterator.h:
//     int reader(OVLMessageIterator& it, T& object);        // 0 = read, -1 = rejected
//     int writer(OVLMessageIterator& it, const T& object);  // 0 = written, -1 = failed
// and run on the element that represents the object. Elements are given by numeric identifier
// (OVLElement) or by name; the name is resolved once, when the reader or writer is built.
//
// A map is written as one entry element per pair, in the map's order, directly below the
// current element; each entry holds a key element and a value element:
//     OVLMapWriter<OVLTextWriter, RecordWriter>(OVLElement::HostRecord, OVLElement::HostName,
//                                               OVLElement::Data)
//     <hostRecord><hostName>alpha</hostName><data>...</data></hostRecord> ...
// A list is written as one item element per element of the list, in order.

#include <string>
#include <utility>

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

// An element given by identifier or by name. An unknown identifier gives no name, and every
// use of it fails.
struct OVLElementRef {
    OVLElementRef(int id) noexcept : name(OVLElement::name(id)) {}  // NOLINT(google-explicit-constructor)
    OVLElementRef(const char* n) noexcept : name(n) {}              // NOLINT(google-explicit-constructor)
    const char* name;
};

// The element's own text as a std::string.
struct OVLTextReader {
    int operator()(OVLMessageIterator& it, std::string& text) const { return it.getText(text); }
};
struct OVLTextWriter {
    int operator()(OVLMessageIterator& it, const std::string& text) const { return it.setText(text); }
};

// Reads every entry element below the current element into a map (std::map-like: key_type,
// mapped_type, insert_or_assign). An entry whose key or value element is missing or rejected by
// its reader is skipped; a later entry with the same key replaces an earlier one. The map is
// not cleared first. Always 0.
template <class KeyReader, class ValueReader>
class OVLMapReader {
public:
    OVLMapReader(OVLElementRef entry, OVLElementRef key, OVLElementRef value, KeyReader keyReader = {},
                 ValueReader valueReader = {})
        : m_entry(entry.name),
          m_key(key.name),
          m_value(value.name),
          m_keyReader(std::move(keyReader)),
          m_valueReader(std::move(valueReader)) {}

    template <class Map>
    int operator()(OVLMessageIterator& it, Map& map) const {
        if (m_key == nullptr || m_value == nullptr) {
            return -1;
        }
        OVLMessageIterator entry(it);
        if (entry.moveTo(m_entry) != 0) {
            return 0;
        }
        do {
            typename Map::key_type key{};
            typename Map::mapped_type value{};
            if (entry.read(m_key, m_keyReader, key) == 0 && entry.read(m_value, m_valueReader, value) == 0) {
                map.insert_or_assign(std::move(key), std::move(value));
            }
        } while (entry.moveToNext(m_entry) == 0);
        return 0;
    }

private:
    const char* m_entry;
    const char* m_key;
    const char* m_value;
    KeyReader m_keyReader;
    ValueReader m_valueReader;
};

// Writes every pair of a map as an entry element below the current element. An entry that
// fails is removed again and the others are still written; the result is then -1.
template <class KeyWriter, class ValueWriter>
class OVLMapWriter {
public:
    OVLMapWriter(OVLElementRef entry, OVLElementRef key, OVLElementRef value, KeyWriter keyWriter = {},
                 ValueWriter valueWriter = {})
        : m_entry(entry.name),
          m_key(key.name),
          m_value(value.name),
          m_keyWriter(std::move(keyWriter)),
          m_valueWriter(std::move(valueWriter)) {}

    template <class Map>
    int operator()(OVLMessageIterator& it, const Map& map) const {
        int result = 0;
        for (const auto& [key, value] : map) {
            OVLMessageIterator entry(it);
            if (entry.addChild(m_entry) != 0) {
                return -1;
            }
            if (entry.write(m_key, m_keyWriter, key) != 0 ||
                entry.write(m_value, m_valueWriter, value) != 0) {
                entry.removeCurrent();
                result = -1;
            }
        }
        return result;
    }

private:
    const char* m_entry;
    const char* m_key;
    const char* m_value;
    KeyWriter m_keyWriter;
    ValueWriter m_valueWriter;
};

// Appends the items read from every item element below the current element to a list
// (push_back of a value_type). Items that the item reader rejects are skipped. Always 0.
template <class ItemReader>
class OVLListReader {
public:
    explicit OVLListReader(OVLElementRef item, ItemReader itemReader = {})
        : m_item(item.name), m_itemReader(std::move(itemReader)) {}

    template <class List>
    int operator()(OVLMessageIterator& it, List& list) const {
        OVLMessageIterator item(it);
        if (item.moveTo(m_item) != 0) {
            return 0;
        }
        do {
            typename List::value_type value{};
            if (item.read(m_itemReader, value) == 0) {
                list.push_back(std::move(value));
            }
        } while (item.moveToNext(m_item) == 0);
        return 0;
    }

private:
    const char* m_item;
    ItemReader m_itemReader;
};

// Writes every item of a list as an item element below the current element. An item that
// fails is removed again and the others are still written; the result is then -1.
template <class ItemWriter>
class OVLListWriter {
public:
    explicit OVLListWriter(OVLElementRef item, ItemWriter itemWriter = {})
        : m_item(item.name), m_itemWriter(std::move(itemWriter)) {}

    template <class List>
    int operator()(OVLMessageIterator& it, const List& list) const {
        int result = 0;
        for (const auto& value : list) {
            OVLMessageIterator item(it);
            if (item.addChild(m_item) != 0) {
                return -1;
            }
            if (item.write(m_itemWriter, value) != 0) {
                item.removeCurrent();
                result = -1;
            }
        }
        return result;
    }

private:
    const char* m_item;
    ItemWriter m_itemWriter;
};

}  // namespace OVL
