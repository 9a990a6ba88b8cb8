// SPDX-License-Identifier: Apache-2.0
#include "wire/cdr_codec.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <rosidl_typesupport_introspection_cpp/identifier.hpp>
#include <stdexcept>
#include <string>

namespace rclcpp_compat {
namespace cdr {
namespace {

namespace ts = rosidl_typesupport_introspection_cpp;
using Member = ts::MessageMember;

static_assert(sizeof(bool) == 1 && sizeof(char16_t) == 2 && sizeof(float) == 4 && sizeof(double) == 8,
              "primitive fields must have their CDR sizes in memory");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ || __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__,
              "mixed-endian hosts are not supported");
constexpr bool kHostBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

// Bytes of a primitive on the wire and in memory; 0 for strings and messages.
size_t primitive_size(uint8_t type_id) {
  switch (type_id) {
    case ts::ROS_TYPE_BOOLEAN:
    case ts::ROS_TYPE_OCTET:
    case ts::ROS_TYPE_UINT8:
    case ts::ROS_TYPE_INT8:
    case ts::ROS_TYPE_CHAR:
      return 1;
    case ts::ROS_TYPE_UINT16:
    case ts::ROS_TYPE_INT16:
    case ts::ROS_TYPE_WCHAR:
      return 2;
    case ts::ROS_TYPE_UINT32:
    case ts::ROS_TYPE_INT32:
    case ts::ROS_TYPE_FLOAT:
      return 4;
    case ts::ROS_TYPE_UINT64:
    case ts::ROS_TYPE_INT64:
    case ts::ROS_TYPE_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

bool is_fixed_array(const Member & m) {
  return m.is_array_ && !m.is_upper_bound_ && m.array_size_ > 0;
}

const Members & nested(const Member & m) {
  return *static_cast<const Members *>(m.members_->data);
}

void byteswap(uint8_t * p, size_t n) {
  std::reverse(p, p + n);
}

// Smallest number of wire bytes one element of `m` can take: bounds how many
// elements a declared sequence length can honestly announce.
size_t min_element_size(const Member & m);

size_t min_message_size(const Members & members) {
  size_t total = 0;
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const Member & m = members.members_[i];
    if (!m.is_array_) {
      total += min_element_size(m);
    } else if (is_fixed_array(m)) {
      total += m.array_size_ * min_element_size(m);
    } else {
      total += 4;
    }
  }
  return std::max<size_t>(total, 1);
}

size_t min_element_size(const Member & m) {
  const size_t size = primitive_size(m.type_id_);
  if (size != 0) {
    return size;
  }
  if (m.type_id_ == ts::ROS_TYPE_MESSAGE) {
    return min_message_size(nested(m));
  }
  return 4;  // a string's length
}

// ---- writing ---------------------------------------------------------------

// Counts (kWrite false) or writes the bytes of a body.
template <bool kWrite>
class Out {
 public:
  explicit Out(uint8_t * buffer) : buffer_(buffer) {}

  size_t pos() const { return pos_; }

  void align(size_t a) {
    if (a <= 1) {
      return;
    }
    const size_t pad = (a - pos_ % a) % a;
    if (kWrite && pad != 0) {
      std::memset(buffer_ + pos_, 0, pad);
    }
    pos_ += pad;
  }
  void put(const void * data, size_t n) {
    if (kWrite && n != 0) {
      std::memcpy(buffer_ + pos_, data, n);
    }
    pos_ += n;
  }
  template <class T>
  void primitive(T value) {
    align(sizeof(T));
    put(&value, sizeof value);
  }
  void length(size_t n) {
    if (n > std::numeric_limits<uint32_t>::max()) {
      throw std::length_error("sequence or string too long for CDR");
    }
    primitive(static_cast<uint32_t>(n));
  }

 private:
  uint8_t * buffer_;
  size_t pos_ = 0;
};

template <bool kWrite>
void put_message(Out<kWrite> & out, const Members & members, const uint8_t * msg);

template <bool kWrite>
void put_one(Out<kWrite> & out, const Member & m, const void * element) {
  switch (m.type_id_) {
    case ts::ROS_TYPE_STRING: {
      const auto & s = *static_cast<const std::string *>(element);
      if (m.string_upper_bound_ != 0 && s.size() > m.string_upper_bound_) {
        throw std::length_error(std::string("string field '") + m.name_ + "' is longer than its bound");
      }
      out.length(s.size() + 1);
      out.put(s.data(), s.size());
      out.put("", 1);
      return;
    }
    case ts::ROS_TYPE_WSTRING: {
      // As rmw_cyclonedds_cpp writes plain CDR: the number of characters,
      // then each one in four bytes, no terminator.
      const auto & s = *static_cast<const std::u16string *>(element);
      if (m.string_upper_bound_ != 0 && s.size() > m.string_upper_bound_) {
        throw std::length_error(std::string("wstring field '") + m.name_ + "' is longer than its bound");
      }
      out.length(s.size());
      for (char16_t c : s) {
        out.primitive(static_cast<uint32_t>(c));
      }
      return;
    }
    case ts::ROS_TYPE_MESSAGE:
      put_message(out, nested(m), static_cast<const uint8_t *>(element));
      return;
    default: {
      const size_t size = primitive_size(m.type_id_);
      out.align(size);
      out.put(element, size);
    }
  }
}

template <bool kWrite>
void put_elements(Out<kWrite> & out, const Member & m, const void * field, size_t count) {
  if (count == 0) {
    return;  // not even alignment, as rmw_cyclonedds_cpp
  }
  const size_t size = primitive_size(m.type_id_);
  if (size != 0 && m.get_const_function != nullptr) {
    out.align(size);
    out.put(m.get_const_function(field, 0), count * size);  // contiguous in memory
  } else if (size != 0) {
    for (size_t i = 0; i < count; ++i) {  // std::vector<bool>: no element addresses
      bool value = false;
      m.fetch_function(field, i, &value);
      out.put(value ? "\x01" : "", 1);
    }
  } else {
    for (size_t i = 0; i < count; ++i) {
      put_one(out, m, m.get_const_function(field, i));
    }
  }
}

template <bool kWrite>
void put_message(Out<kWrite> & out, const Members & members, const uint8_t * msg) {
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const Member & m = members.members_[i];
    const uint8_t * field = msg + m.offset_;
    if (!m.is_array_) {
      put_one(out, m, field);
    } else if (is_fixed_array(m)) {
      put_elements(out, m, field, m.array_size_);
    } else {
      const size_t count = m.size_function(field);
      if (m.is_upper_bound_ && count > m.array_size_) {
        throw std::length_error(std::string("sequence field '") + m.name_ + "' is longer than its bound");
      }
      out.length(count);
      put_elements(out, m, field, count);
    }
  }
}

template <bool kWrite>
void put_body(Out<kWrite> & out, const Members & members, const void * msg, const RequestHeader * header) {
  if (header != nullptr) {
    out.primitive(header->guid);
    out.primitive(header->seq);
  }
  put_message(out, members, static_cast<const uint8_t *>(msg));
}

// ---- reading ---------------------------------------------------------------

class In {
 public:
  In(const uint8_t * data, size_t size, bool swap) : data_(data), size_(size), swap_(swap) {}

  size_t left() const { return size_ - pos_; }

  bool align(size_t a) {
    if (a <= 1) {
      return true;  // bytes and strings: no padding (and no division by zero)
    }
    const size_t pad = (a - pos_ % a) % a;
    if (pad > left()) {
      return false;
    }
    pos_ += pad;
    return true;
  }
  // The next `n` bytes, or null when fewer remain.
  const uint8_t * take(size_t n) {
    if (n > left()) {
      return nullptr;
    }
    const uint8_t * p = data_ + pos_;
    pos_ += n;
    return p;
  }
  template <class T>
  bool primitive(T & value) {
    const uint8_t * p = align(sizeof(T)) ? take(sizeof(T)) : nullptr;
    if (p == nullptr) {
      return false;
    }
    std::memcpy(&value, p, sizeof value);
    if (swap_) {
      byteswap(reinterpret_cast<uint8_t *>(&value), sizeof value);
    }
    return true;
  }
  // Copies `count` primitives of `m` into `dst` (may be null: only checked).
  bool primitives(const Member & m, uint8_t * dst, size_t count) {
    const size_t size = primitive_size(m.type_id_);
    // A kind without a primitive size (refused by members_of) reads as malformed.
    if (size == 0 || !align(size) || count > left() / size) {
      return false;
    }
    const uint8_t * src = take(count * size);
    if (dst == nullptr) {
      return true;
    }
    if (m.type_id_ == ts::ROS_TYPE_BOOLEAN) {
      for (size_t i = 0; i < count; ++i) {
        dst[i] = src[i] != 0 ? 1 : 0;  // any other byte in a bool would be undefined behaviour
      }
      return true;
    }
    std::memcpy(dst, src, count * size);
    if (swap_ && size > 1) {
      for (size_t i = 0; i < count; ++i) {
        byteswap(dst + i * size, size);
      }
    }
    return true;
  }

 private:
  const uint8_t * data_;
  size_t size_;
  size_t pos_ = 0;
  bool swap_;
};

bool get_message(In & in, const Members & members, uint8_t * msg);

bool get_one(In & in, const Member & m, void * element) {
  switch (m.type_id_) {
    case ts::ROS_TYPE_STRING: {
      uint32_t length = 0;
      if (!in.primitive(length)) {
        return false;
      }
      const auto * chars = reinterpret_cast<const char *>(in.take(length));
      if (chars == nullptr) {
        return false;
      }
      // A length of 0 (no terminator) is read as "", as rmw_cyclonedds_cpp does.
      if (length > 0 && chars[length - 1] != '\0') {
        return false;
      }
      const size_t size = length > 0 ? length - 1 : 0;
      if (m.string_upper_bound_ != 0 && size > m.string_upper_bound_) {
        return false;
      }
      if (element != nullptr) {
        static_cast<std::string *>(element)->assign(chars, size);
      }
      return true;
    }
    case ts::ROS_TYPE_WSTRING: {
      uint32_t count = 0;
      if (!in.primitive(count) || count > in.left() / 4 ||
          (m.string_upper_bound_ != 0 && count > m.string_upper_bound_)) {
        return false;
      }
      auto * s = static_cast<std::u16string *>(element);
      if (s != nullptr) {
        s->resize(count);
      }
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = 0;
        if (!in.primitive(c) || c > 0xffff) {
          return false;  // not a UTF-16 code unit
        }
        if (s != nullptr) {
          (*s)[i] = static_cast<char16_t>(c);
        }
      }
      return true;
    }
    case ts::ROS_TYPE_MESSAGE:
      return get_message(in, nested(m), static_cast<uint8_t *>(element));
    default:
      return in.primitives(m, static_cast<uint8_t *>(element), 1);
  }
}

bool get_elements(In & in, const Member & m, void * field, size_t count) {
  if (count == 0) {
    return true;
  }
  if (primitive_size(m.type_id_) != 0) {
    if (field == nullptr || m.get_function != nullptr) {
      return in.primitives(m, field != nullptr ? static_cast<uint8_t *>(m.get_function(field, 0)) : nullptr,
                           count);
    }
    // std::vector<bool>: one element at a time.
    if (!in.align(1) || count > in.left()) {
      return false;
    }
    const uint8_t * src = in.take(count);
    for (size_t i = 0; i < count; ++i) {
      const bool value = src[i] != 0;
      m.assign_function(field, i, &value);
    }
    return true;
  }
  for (size_t i = 0; i < count; ++i) {
    if (!get_one(in, m, field != nullptr ? m.get_function(field, i) : nullptr)) {
      return false;
    }
  }
  return true;
}

bool get_message(In & in, const Members & members, uint8_t * msg) {
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const Member & m = members.members_[i];
    void * field = msg != nullptr ? msg + m.offset_ : nullptr;
    if (!m.is_array_) {
      if (!get_one(in, m, field)) {
        return false;
      }
    } else if (is_fixed_array(m)) {
      if (!get_elements(in, m, field, m.array_size_)) {
        return false;
      }
    } else {
      uint32_t count = 0;
      if (!in.primitive(count) || (m.is_upper_bound_ && count > m.array_size_) ||
          count > in.left() / min_element_size(m)) {
        return false;
      }
      if (field != nullptr) {
        m.resize_function(field, count);
      }
      if (!get_elements(in, m, field, count)) {
        return false;
      }
    }
  }
  return true;
}

const Members & members_unchecked(const rosidl_message_type_support_t * type_support) {
  if (type_support == nullptr || type_support->data == nullptr ||
      std::strcmp(type_support->typesupport_identifier, ts::typesupport_identifier) != 0) {
    throw std::invalid_argument("not a C++ introspection type support");
  }
  return *static_cast<const Members *>(type_support->data);
}

void check_members(const Members & members, int depth) {
  if (depth > 64) {
    throw std::invalid_argument("message types nested too deeply");
  }
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const Member & m = members.members_[i];
    if (m.type_id_ == ts::ROS_TYPE_MESSAGE) {
      check_members(members_unchecked(m.members_), depth + 1);
    } else if (primitive_size(m.type_id_) == 0 && m.type_id_ != ts::ROS_TYPE_STRING &&
               m.type_id_ != ts::ROS_TYPE_WSTRING) {
      throw std::invalid_argument(std::string("field '") + m.name_ + "' of " + members.message_name_ +
                                  " has a type without a CDR mapping here");
    }
  }
}

}  // namespace

const Members & members_of(const rosidl_message_type_support_t * type_support) {
  const Members & members = members_unchecked(type_support);
  check_members(members, 0);
  return members;
}

std::string dds_type_name(const Members & members) {
  std::string ns = members.message_namespace_;
  // The C type support spells the namespace "pkg__msg"; the C++ one "pkg::msg".
  for (size_t pos = ns.find("__"); pos != std::string::npos; pos = ns.find("__", pos + 2)) {
    ns.replace(pos, 2, "::");
  }
  return (ns.empty() ? "" : ns + "::") + "dds_::" + members.message_name_ + "_";
}

size_t body_size(const Members & members, const void * msg, bool with_header) {
  Out<false> out(nullptr);
  const RequestHeader header;
  put_body(out, members, msg, with_header ? &header : nullptr);
  return out.pos();
}

void write_body(const Members & members, const void * msg, const RequestHeader * header, uint8_t * out) {
  Out<true> writer(out);
  put_body(writer, members, msg, header);
}

bool read_body(const Members & members, const uint8_t * body, size_t size, bool big_endian, bool with_header,
               RequestHeader * header, void * msg) {
  In in(body, size, big_endian != kHostBigEndian);
  if (with_header) {
    RequestHeader h;
    if (!in.primitive(h.guid) || !in.primitive(h.seq)) {
      return false;
    }
    if (header != nullptr) {
      *header = h;
    }
  }
  return get_message(in, members, static_cast<uint8_t *>(msg));
}

}  // namespace cdr
}  // namespace rclcpp_compat
