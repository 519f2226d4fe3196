// What the plain runner of wsdl_soap_fuzz needs of the harness (fuzz/WsdlSoapFuzz.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// How many inputs so far were WSDL documents that the reader read.
uint64_t WsdlSoapDocumentsRead();
