// From a watch-page address to the rows of the address list: ask the address service, cut the
// block of download addresses out of its result page and add one row per anchor in it.
#pragma once

#include "lookup/address_list.h"
#include "lookup/fetch_page.h"
#include "lookup/text.h"

namespace qinglan {

// "http://" + the address service's host + "/parse.php?kw=".
Text service_base_address();

// Rebuilds `list` from the result page that the address service gives for `watch_address`,
// which is appended to the service base address byte for byte, unencoded.
void read_addresses(const Text& watch_address, AddressList& list);

// The same with another service base address and request limits; the tests point it at a
// server of their own.
void read_addresses_from(const Text& service_base, const Text& watch_address, AddressList& list,
                         const FetchLimits& limits = {});

// What a read does once the response has arrived: the page is the body up to its first zero
// byte, the block is the text between the page's markers, and `list` is rebuilt from the block,
// exactly as bytes_to_text, text_between and fill_address_list would do it one after the other.
void extract_addresses(const Bytes& body, AddressList& list);

// The text between the first `front` in `whole` and the first `back` after it. The results at
// the edges follow from the text operations: a missing `front` counts as found at position -1,
// and a missing `back` gives the empty text.
Text text_between(const Text& whole, const Text& front, const Text& back);

// Empties `list`, then adds one row for every piece of `block` after an "<a", captioned with the
// address with which the piece begins.
void fill_address_list(const Text& block, AddressList& list);

}  // namespace qinglan
