// `qk2 verify`: everything about a package, or an updater executable and the
// package it carries, that would make the updater refuse it or read it
// differently from the way qk2 wrote it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Verification {
  std::vector<std::string> problems;  // each one is a damage; texts in the terminal's encoding
  std::vector<std::string> notes;     // worth knowing, not wrong
  uint32_t entries = 0;
  size_t packageSize = 0;
  bool executable = false;
  bool digest = false;     // carries a digest resource that matches
  bool signature = false;  // carries an Authenticode certificate table
  bool ok() const { return problems.empty(); }
};

// The package's structure: header, 16-byte alignment and zero padding, the
// directory (compressed or plain), every stream decoding to exactly its
// content size and consuming exactly its stored bytes, names terminated and
// unique, and finally the updater's own reader accepting it.
void VerifyPackage(const uint8_t* data, size_t size, Verification* result);

// An executable: a PE32 image with the package resource "UPDATE" 102, the
// digest resource "UPDATE" 103 (when there is one) matching it, and the
// package itself as VerifyPackage checks it.
void VerifyExecutable(const std::vector<uint8_t>& image, Verification* result);
