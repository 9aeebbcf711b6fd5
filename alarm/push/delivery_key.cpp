#include "alarm/push/delivery_key.h"

#include <cstdint>

namespace rovik::alarm {

namespace {

constexpr std::uint64_t kOffset = 14695981039346656037ULL;
constexpr std::uint64_t kPrime = 1099511628211ULL;

std::uint64_t Mix(std::uint64_t hash, const unsigned char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    hash = (hash ^ bytes[i]) * kPrime;
  }
  return hash;
}

}  // namespace

std::string DeliveryKey(std::string_view topic, const void* payload, std::size_t length) {
  std::uint64_t hash =
      Mix(kOffset, reinterpret_cast<const unsigned char*>(topic.data()), topic.size());
  const unsigned char separator = 0xFF;  // never inside UTF-8 topic text
  hash = Mix(hash, &separator, 1);
  if (payload != nullptr) {
    hash = Mix(hash, static_cast<const unsigned char*>(payload), length);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string key(16, '0');
  for (int i = 15; i >= 0; --i) {
    key[static_cast<std::size_t>(i)] = kHex[hash & 0xF];
    hash >>= 4;
  }
  return key;
}

}  // namespace rovik::alarm
