// SPDX-License-Identifier: Apache-2.0
#include "wire/wire_sertype.hpp"

#include <dds/dds.h>
#include <dds/ddsi/ddsi_keyhash.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/q_radmin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "rclcpp_compat/wire_types.hpp"
#include "wire/cdr_codec.hpp"

namespace rclcpp_compat {
namespace {

constexpr size_t kEncapsulationSize = 4;
constexpr uint8_t kHostEncoding = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 0x01 : 0x00;

struct WireSertype : ddsi_sertype {
  const cdr::Members * members = nullptr;
  bool service_sample = false;
};

struct WireSerdata : ddsi_serdata {
  // Encapsulation header and body, zero-filled to a multiple of 4: the
  // transmit path may read up to there.
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};

const WireSertype & wire_type(const ddsi_sertype * type) {
  return *static_cast<const WireSertype *>(type);
}

const WireSerdata & wire_data(const ddsi_serdata * d) {
  return *static_cast<const WireSerdata *>(d);
}

const struct ddsi_serdata_ops * wire_serdata_ops();

// Null when `size` cannot be carried (samples are limited to 32-bit sizes).
WireSerdata * new_serdata(const ddsi_sertype * type, ddsi_serdata_kind kind, size_t size) {
  if (size > std::numeric_limits<uint32_t>::max() - 3) {
    return nullptr;
  }
  auto d = std::make_unique<WireSerdata>();
  ddsi_serdata_init(d.get(), type, kind);
  if (size > 0) {
    const size_t padded = (size + 3) & ~size_t{3};
    d->bytes.reset(new uint8_t[padded]);
    std::memset(d->bytes.get() + size, 0, padded - size);
  }
  d->size = static_cast<uint32_t>(size);
  return d.release();
}

// A keyless topic's key: nothing.
WireSerdata * new_key(const ddsi_sertype * type, ddsi_serdata_kind kind) {
  return new_serdata(type, kind, 0);
}

// Plain CDR in either byte order, nothing else (XCDR2 or parameter lists do
// not match ROS 2 peers); the body must read as the type.
bool valid_data(const WireSertype & type, const uint8_t * bytes, size_t size) {
  if (size < kEncapsulationSize || bytes[0] != 0x00 || bytes[1] > 0x01) {
    return false;
  }
  return cdr::read_body(*type.members, bytes + kEncapsulationSize, size - kEncapsulationSize,
                        bytes[1] == 0x00, type.service_sample, nullptr, nullptr);
}

// Keeps only data that reads as the type; every other kind is a keyless key.
ddsi_serdata * checked(WireSerdata * d) {
  if (d != nullptr && d->kind == SDK_DATA && !valid_data(wire_type(d->type), d->bytes.get(), d->size)) {
    delete d;
    return nullptr;
  }
  return d;
}

// ---- serdata -------------------------------------------------------------

bool wire_eqkey(const ddsi_serdata *, const ddsi_serdata *) {
  return true;  // keyless: one instance
}

uint32_t wire_get_size(const ddsi_serdata * d) {
  return wire_data(d).size;
}

ddsi_serdata * wire_from_ser(const ddsi_sertype * type, ddsi_serdata_kind kind, const nn_rdata * fragchain,
                             size_t size) {
  if (kind != SDK_DATA) {
    return new_key(type, kind);
  }
  WireSerdata * d = new_serdata(type, kind, size);
  if (d == nullptr) {
    return nullptr;
  }
  // Fragments may overlap; each adds what lies past the previous ones.
  uint32_t off = 0;
  for (; fragchain != nullptr; fragchain = fragchain->nextfrag) {
    if (fragchain->maxp1 > size || fragchain->min > off) {
      delete d;
      return nullptr;
    }
    if (fragchain->maxp1 > off) {
      const unsigned char * payload = NN_RMSG_PAYLOADOFF(fragchain->rmsg, NN_RDATA_PAYLOAD_OFF(fragchain));
      std::memcpy(d->bytes.get() + off, payload + off - fragchain->min, fragchain->maxp1 - off);
      off = fragchain->maxp1;
    }
  }
  if (off != size) {
    delete d;
    return nullptr;
  }
  return checked(d);
}

ddsi_serdata * wire_from_ser_iov(const ddsi_sertype * type, ddsi_serdata_kind kind, ddsrt_msg_iovlen_t niov,
                                 const ddsrt_iovec_t * iov, size_t size) {
  if (kind != SDK_DATA) {
    return new_key(type, kind);
  }
  WireSerdata * d = new_serdata(type, kind, size);
  if (d == nullptr) {
    return nullptr;
  }
  size_t off = 0;
  for (ddsrt_msg_iovlen_t i = 0; i < niov && off < size; ++i) {
    const size_t n = std::min<size_t>(iov[i].iov_len, size - off);
    if (n > 0) {
      std::memcpy(d->bytes.get() + off, iov[i].iov_base, n);
    }
    off += n;
  }
  if (off != size) {
    delete d;
    return nullptr;
  }
  return checked(d);
}

ddsi_serdata * wire_from_keyhash(const ddsi_sertype * type, const ddsi_keyhash *) {
  return new_key(type, SDK_KEY);
}

// Serialises the message of a WireSample straight into the serdata.
ddsi_serdata * wire_from_sample(const ddsi_sertype * type, ddsi_serdata_kind kind, const void * sample) {
  if (kind != SDK_DATA) {
    return new_key(type, kind);
  }
  const auto & t = wire_type(type);
  const auto & s = *static_cast<const WireSample *>(sample);
  if (s.message == nullptr) {
    return nullptr;
  }
  try {
    const size_t total = kEncapsulationSize + cdr::body_size(*t.members, s.message, t.service_sample);
    const size_t padded = (total + 3) & ~size_t{3};
    std::unique_ptr<WireSerdata> d(new_serdata(type, kind, padded));
    if (d == nullptr) {
      return nullptr;
    }
    uint8_t * bytes = d->bytes.get();
    // The number of padding bytes goes in the options, as Cyclone does.
    bytes[0] = 0x00;
    bytes[1] = kHostEncoding;
    bytes[2] = 0x00;
    bytes[3] = static_cast<uint8_t>(padded - total);
    cdr::write_body(*t.members, s.message, t.service_sample ? &s.header : nullptr,
                    bytes + kEncapsulationSize);
    std::memset(bytes + total, 0, padded - total);
    return d.release();
  } catch (const std::exception &) {
    return nullptr;  // over a bound or too large: dds_write reports the failure
  }
}

void wire_to_ser(const ddsi_serdata * d, size_t off, size_t sz, void * buf) {
  std::memcpy(buf, wire_data(d).bytes.get() + off, sz);
}

ddsi_serdata * wire_to_ser_ref(const ddsi_serdata * d, size_t off, size_t sz, ddsrt_iovec_t * ref) {
  ref->iov_base = wire_data(d).bytes.get() + off;
  ref->iov_len = static_cast<ddsrt_iov_len_t>(sz);
  return ddsi_serdata_ref(d);
}

void wire_to_ser_unref(ddsi_serdata * d, const ddsrt_iovec_t *) {
  ddsi_serdata_unref(d);
}

// Fills the header, and the message when the sample has one.
bool wire_to_sample(const ddsi_serdata * d, void * sample, void **, void *) {
  if (d->kind != SDK_DATA) {
    return true;
  }
  const auto & data = wire_data(d);
  const auto & t = wire_type(d->type);
  auto & s = *static_cast<WireSample *>(sample);
  if (data.size < kEncapsulationSize) {
    return false;
  }
  try {
    return cdr::read_body(*t.members, data.bytes.get() + kEncapsulationSize, data.size - kEncapsulationSize,
                          data.bytes[1] == 0x00, t.service_sample, &s.header, s.message);
  } catch (const std::exception &) {
    return false;  // out of memory
  }
}

ddsi_serdata * wire_to_untyped(const ddsi_serdata * d) {
  WireSerdata * key = new_key(d->type, SDK_KEY);
  key->type = nullptr;
  return key;
}

bool wire_untyped_to_sample(const ddsi_sertype *, const ddsi_serdata *, void *, void **, void *) {
  return true;  // no key fields
}

void wire_free(ddsi_serdata * d) {
  delete static_cast<WireSerdata *>(d);
}

size_t wire_print(const ddsi_sertype *, const ddsi_serdata * d, char * buf, size_t size) {
  return static_cast<size_t>(std::snprintf(buf, size, "(%u bytes of CDR)", wire_data(d).size));
}

void wire_get_keyhash(const ddsi_serdata *, ddsi_keyhash * buf, bool) {
  std::memset(buf, 0, sizeof *buf);
}

const struct ddsi_serdata_ops * wire_serdata_ops() {
  static const struct ddsi_serdata_ops ops = [] {
    struct ddsi_serdata_ops o;
    std::memset(&o, 0, sizeof o);
    o.eqkey = wire_eqkey;
    o.get_size = wire_get_size;
    o.from_ser = wire_from_ser;
    o.from_ser_iov = wire_from_ser_iov;
    o.from_keyhash = wire_from_keyhash;
    o.from_sample = wire_from_sample;
    o.to_ser = wire_to_ser;
    o.to_ser_ref = wire_to_ser_ref;
    o.to_ser_unref = wire_to_ser_unref;
    o.to_sample = wire_to_sample;
    o.to_untyped = wire_to_untyped;
    o.untyped_to_sample = wire_untyped_to_sample;
    o.free = wire_free;
    o.print = wire_print;
    o.get_keyhash = wire_get_keyhash;
    return o;
  }();
  return &ops;
}

// ---- sertype ---------------------------------------------------------------

void wire_sertype_free(ddsi_sertype * type) {
  ddsi_sertype_fini(type);
  delete static_cast<WireSertype *>(type);
}

void wire_zero_samples(const ddsi_sertype *, void * samples, size_t count) {
  std::fill_n(static_cast<WireSample *>(samples), count, WireSample{});
}

// Samples Cyclone allocates (loans, content filters) carry no message.
void wire_realloc_samples(void ** ptrs, const ddsi_sertype *, void * old, size_t oldcount, size_t count) {
  auto * samples =
      static_cast<WireSample *>(dds_realloc(old, std::max<size_t>(count, 1) * sizeof(WireSample)));
  for (size_t i = oldcount; i < count; ++i) {
    samples[i] = WireSample{};
  }
  for (size_t i = 0; ptrs != nullptr && i < count; ++i) {
    ptrs[i] = &samples[i];
  }
}

void wire_free_samples(const ddsi_sertype *, void ** ptrs, size_t count, dds_free_op_t op) {
  if (count > 0 && (op & DDS_FREE_ALL_BIT) != 0) {
    dds_free(ptrs[0]);  // the messages are never ours
  }
}

bool wire_sertype_equal(const ddsi_sertype * a, const ddsi_sertype * b) {
  return wire_type(a).members == wire_type(b).members &&
         wire_type(a).service_sample == wire_type(b).service_sample;
}

uint32_t wire_sertype_hash(const ddsi_sertype * type) {
  const auto & t = wire_type(type);
  return static_cast<uint32_t>(std::hash<const void *>{}(t.members)) ^ (t.service_sample ? 1u : 0u);
}

const struct ddsi_sertype_ops * wire_sertype_ops() {
  static const struct ddsi_sertype_ops ops = [] {
    struct ddsi_sertype_ops o;
    std::memset(&o, 0, sizeof o);
    o.version = ddsi_sertype_v0;
    o.free = wire_sertype_free;
    o.zero_samples = wire_zero_samples;
    o.realloc_samples = wire_realloc_samples;
    o.free_samples = wire_free_samples;
    o.equal = wire_sertype_equal;
    o.hash = wire_sertype_hash;
    return o;
  }();
  return &ops;
}

}  // namespace

struct ddsi_sertype * new_wire_sertype(const rosidl_message_type_support_t * type_support,
                                       bool service_sample) {
  const cdr::Members & members = cdr::members_of(type_support);
  auto type = std::make_unique<WireSertype>();
  type->members = &members;
  type->service_sample = service_sample;
  ddsi_sertype_init_flags(type.get(), cdr::dds_type_name(members).c_str(), wire_sertype_ops(),
                          wire_serdata_ops(), DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  type->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  return type.release();
}

dds_entity_t create_wire_topic(dds_entity_t participant, const std::string & topic_name,
                               const rosidl_message_type_support_t * type_support, bool service_sample) {
  ddsi_sertype * type = nullptr;
  try {
    type = new_wire_sertype(type_support, service_sample);
  } catch (const std::exception &) {
    return DDS_RETCODE_BAD_PARAMETER;
  }
  // Takes over our reference on success only.
  const dds_entity_t topic =
      dds_create_topic_sertype(participant, topic_name.c_str(), &type, nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(type);
  }
  return topic;
}

std::string wire_type_name(const rosidl_message_type_support_t * type_support) {
  return cdr::dds_type_name(cdr::members_of(type_support));
}

std::vector<dds_entity_t> children_of(dds_entity_t entity) {
  std::vector<dds_entity_t> children(64);
  dds_return_t n = dds_get_children(entity, children.data(), children.size());
  if (n > static_cast<dds_return_t>(children.size())) {
    children.resize(static_cast<size_t>(n));
    n = dds_get_children(entity, children.data(), children.size());
  }
  children.resize(n > 0 ? std::min(static_cast<size_t>(n), children.size()) : 0);
  return children;
}

}  // namespace rclcpp_compat
