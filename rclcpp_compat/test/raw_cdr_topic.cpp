// SPDX-License-Identifier: Apache-2.0
#include "raw_cdr_topic.hpp"

#include <dds/ddsi/ddsi_keyhash.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>
#include <dds/ddsi/q_radmin.h>

#include <cstdio>
#include <cstring>

namespace compat_test {
namespace {

// What dds_write takes for this type.
struct RawSample {
  const uint8_t * data;
  size_t size;
};

struct RawSertype {
  struct ddsi_sertype c;
};

struct RawSerdata {
  struct ddsi_serdata c;
  // Padded with zeros to a multiple of 4: the transmit path may read up to
  // the next multiple of 4 past the serialized size.
  std::vector<uint8_t> bytes;
  uint32_t size = 0;
};

const struct ddsi_serdata_ops * raw_serdata_ops();

RawSerdata * new_serdata(const struct ddsi_sertype * type, enum ddsi_serdata_kind kind, const uint8_t * data,
                         size_t size) {
  auto * d = new RawSerdata;
  ddsi_serdata_init(&d->c, type, kind);
  d->size = static_cast<uint32_t>(size);
  d->bytes.assign((size + 3) & ~size_t{3}, 0);
  if (size > 0) {
    std::memcpy(d->bytes.data(), data, size);
  }
  return d;
}

const RawSerdata * raw(const struct ddsi_serdata * d) {
  return reinterpret_cast<const RawSerdata *>(d);
}

// ---- serdata -------------------------------------------------------------

bool raw_eqkey(const struct ddsi_serdata *, const struct ddsi_serdata *) {
  return true;  // keyless: one instance
}

uint32_t raw_get_size(const struct ddsi_serdata * d) {
  return raw(d)->size;
}

// A sample from the network: the fragments may overlap, so each adds only the
// bytes past what the earlier ones gave.
struct ddsi_serdata * raw_from_ser(const struct ddsi_sertype * type, enum ddsi_serdata_kind kind,
                                   const struct nn_rdata * fragchain, size_t size) {
  std::vector<uint8_t> joined;
  joined.reserve(size);
  uint32_t off = 0;
  for (const struct nn_rdata * f = fragchain; f != nullptr; f = f->nextfrag) {
    if (f->maxp1 > off && f->min <= off) {
      const auto * payload =
          reinterpret_cast<const uint8_t *>(NN_RMSG_PAYLOADOFF(f->rmsg, NN_RDATA_PAYLOAD_OFF(f)));
      joined.insert(joined.end(), payload + (off - f->min), payload + (f->maxp1 - f->min));
      off = f->maxp1;
    }
  }
  joined.resize(size);
  return &new_serdata(type, kind, joined.data(), joined.size())->c;
}

struct ddsi_serdata * raw_from_ser_iov(const struct ddsi_sertype * type, enum ddsi_serdata_kind kind,
                                       ddsrt_msg_iovlen_t niov, const ddsrt_iovec_t * iov, size_t size) {
  std::vector<uint8_t> joined;
  for (ddsrt_msg_iovlen_t i = 0; i < niov; ++i) {
    const auto * base = static_cast<const uint8_t *>(iov[i].iov_base);
    joined.insert(joined.end(), base, base + iov[i].iov_len);
  }
  joined.resize(size);
  return &new_serdata(type, kind, joined.data(), joined.size())->c;
}

struct ddsi_serdata * raw_from_keyhash(const struct ddsi_sertype * type, const struct ddsi_keyhash *) {
  return &new_serdata(type, SDK_KEY, nullptr, 0)->c;
}

struct ddsi_serdata * raw_from_sample(const struct ddsi_sertype * type, enum ddsi_serdata_kind kind,
                                      const void * sample) {
  const auto * s = static_cast<const RawSample *>(sample);
  if (kind != SDK_DATA) {
    return &new_serdata(type, kind, nullptr, 0)->c;
  }
  return &new_serdata(type, kind, s->data, s->size)->c;
}

void raw_to_ser(const struct ddsi_serdata * d, size_t off, size_t sz, void * buf) {
  std::memcpy(buf, raw(d)->bytes.data() + off, sz);
}

struct ddsi_serdata * raw_to_ser_ref(const struct ddsi_serdata * d, size_t off, size_t sz,
                                     ddsrt_iovec_t * ref) {
  ref->iov_base = const_cast<uint8_t *>(raw(d)->bytes.data() + off);
  ref->iov_len = static_cast<ddsrt_iov_len_t>(sz);
  return ddsi_serdata_ref(d);
}

void raw_to_ser_unref(struct ddsi_serdata * d, const ddsrt_iovec_t *) {
  ddsi_serdata_unref(d);
}

bool raw_to_sample(const struct ddsi_serdata *, void *, void **, void *) {
  return false;  // never read
}

struct ddsi_serdata * raw_to_untyped(const struct ddsi_serdata * d) {
  return &new_serdata(d->type, SDK_KEY, nullptr, 0)->c;
}

bool raw_untyped_to_sample(const struct ddsi_sertype *, const struct ddsi_serdata *, void *, void **,
                           void *) {
  return true;
}

void raw_free(struct ddsi_serdata * d) {
  delete reinterpret_cast<RawSerdata *>(d);
}

size_t raw_print(const struct ddsi_sertype *, const struct ddsi_serdata * d, char * buf, size_t size) {
  return static_cast<size_t>(std::snprintf(buf, size, "raw(%u bytes)", raw(d)->size));
}

void raw_get_keyhash(const struct ddsi_serdata *, struct ddsi_keyhash * buf, bool) {
  std::memset(buf, 0, sizeof *buf);
}

const struct ddsi_serdata_ops * raw_serdata_ops() {
  static const struct ddsi_serdata_ops ops = [] {
    struct ddsi_serdata_ops o;
    std::memset(&o, 0, sizeof o);
    o.eqkey = raw_eqkey;
    o.get_size = raw_get_size;
    o.from_ser = raw_from_ser;
    o.from_ser_iov = raw_from_ser_iov;
    o.from_keyhash = raw_from_keyhash;
    o.from_sample = raw_from_sample;
    o.to_ser = raw_to_ser;
    o.to_ser_ref = raw_to_ser_ref;
    o.to_ser_unref = raw_to_ser_unref;
    o.to_sample = raw_to_sample;
    o.to_untyped = raw_to_untyped;
    o.untyped_to_sample = raw_untyped_to_sample;
    o.free = raw_free;
    o.print = raw_print;
    o.get_keyhash = raw_get_keyhash;
    return o;
  }();
  return &ops;
}

// ---- sertype ---------------------------------------------------------------

void raw_sertype_free(struct ddsi_sertype * tp) {
  ddsi_sertype_fini(tp);
  delete reinterpret_cast<RawSertype *>(tp);
}

void raw_zero_samples(const struct ddsi_sertype *, void * samples, size_t count) {
  std::memset(samples, 0, count * sizeof(RawSample));
}

void raw_realloc_samples(void ** ptrs, const struct ddsi_sertype *, void * old, size_t, size_t count) {
  auto * samples = static_cast<RawSample *>(dds_realloc(old, (count == 0 ? 1 : count) * sizeof(RawSample)));
  for (size_t i = 0; ptrs != nullptr && i < count; ++i) {
    ptrs[i] = &samples[i];
  }
}

void raw_free_samples(const struct ddsi_sertype *, void ** ptrs, size_t count, dds_free_op_t op) {
  if (count > 0 && (op & DDS_FREE_ALL_BIT) != 0) {
    dds_free(ptrs[0]);
  }
}

bool raw_sertype_equal(const struct ddsi_sertype *, const struct ddsi_sertype *) {
  return true;  // same name and operations: nothing else distinguishes them
}

uint32_t raw_sertype_hash(const struct ddsi_sertype *) {
  return 0;
}

const struct ddsi_sertype_ops * raw_sertype_ops() {
  static const struct ddsi_sertype_ops ops = [] {
    struct ddsi_sertype_ops o;
    std::memset(&o, 0, sizeof o);
    o.version = ddsi_sertype_v0;
    o.free = raw_sertype_free;
    o.zero_samples = raw_zero_samples;
    o.realloc_samples = raw_realloc_samples;
    o.free_samples = raw_free_samples;
    o.equal = raw_sertype_equal;
    o.hash = raw_sertype_hash;
    return o;
  }();
  return &ops;
}

}  // namespace

dds_entity_t create_raw_cdr_topic(dds_entity_t participant, const std::string & topic_name,
                                  const std::string & type_name) {
  auto * type = new RawSertype;
  ddsi_sertype_init_flags(&type->c, type_name.c_str(), raw_sertype_ops(), raw_serdata_ops(),
                          DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  struct ddsi_sertype * sertype = &type->c;
  const dds_entity_t topic =
      dds_create_topic_sertype(participant, topic_name.c_str(), &sertype, nullptr, nullptr, nullptr);
  if (topic < 0) {
    raw_sertype_free(&type->c);
  }
  return topic;
}

dds_return_t write_raw_cdr(dds_entity_t writer, const std::vector<uint8_t> & bytes) {
  const RawSample sample{bytes.data(), bytes.size()};
  return dds_write(writer, &sample);
}

bool take_raw_cdr(dds_entity_t reader, std::vector<uint8_t> & bytes) {
  struct ddsi_serdata * data = nullptr;
  dds_sample_info_t info;
  while (dds_takecdr(reader, &data, 1, &info, DDS_ANY_STATE) == 1) {
    const bool valid = info.valid_data;
    if (valid) {
      bytes = raw(data)->bytes;
      bytes.resize(raw(data)->size);
    }
    ddsi_serdata_unref(data);
    if (valid) {
      return true;
    }
  }
  return false;
}

}  // namespace compat_test
