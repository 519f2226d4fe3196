// wsdl_soap_fuzz: arbitrary bytes as the camera's WSDL and as its SOAP responses.
//
// The first byte chooses what the rest is: bit 0 clear, a WSDL document for the operation table
// (every operation read is then written as a request with arguments of each kind); bit 0 set, the
// response to each operation of a well-formed table. With bit 1 clear the rest is that document
// itself; with bit 1 set the rest drives edits of a valid document (cuts, repeats, changed bytes,
// inserted markup), so that the fuzzer reaches deep into the readers from its first runs. The
// harness aborts when a table exceeds the reader's limits, when an operation has two result parts,
// or when a value read is larger than the bytes it came from.
//
// Built with clang and -DPELLIX_FUZZ=ON this is a libFuzzer target. Otherwise WsdlSoapRunner.cpp
// gives it a main that runs deterministic inputs of every kind (argument: the number of runs,
// 20 000 by default).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/WsdlSoapFuzz.h"
#include "update/SoapMessage.h"
#include "update/WsdlReader.h"

namespace {

const char kWsdl[] =
    "<?xml version=\"1.0\"?><definitions xmlns:w=\"urn:w\" xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\" "
    "xmlns=\"http://schemas.xmlsoap.org/wsdl/\">"
    "<message name=\"S\"><part name=\"id\" type=\"xsd:int\"/><part name=\"value\" type=\"xsd:anyType\"/></message>"
    "<message name=\"SR\"><part name=\"Result\" type=\"xsd:int\"/></message>"
    "<message name=\"G\"><part name=\"id\" type=\"xsd:int\"/></message>"
    "<message name=\"GR\"><part name=\"Result\" type=\"xsd:anyType\"/></message>"
    "<message name=\"A\"><part name=\"id\" type=\"xsd:unsignedShort\"/><part name=\"text\" type=\"xsd:string\"/>"
    "<part name=\"flag\" type=\"xsd:boolean\"/></message>"
    "<portType name=\"P\"><operation name=\"SetStoreApiData\" parameterOrder=\"id value\"><input message=\"w:S\"/>"
    "<output message=\"w:SR\"/></operation><operation name=\"GetStoreApiDataOLE\"><input message=\"w:G\"/>"
    "<output message=\"w:GR\"/></operation><operation name=\"SetAndGetStoreApiDataOLE\"><input message=\"w:A\"/>"
    "<output message=\"w:GR\"/></operation></portType>"
    "<binding name=\"B\" type=\"w:P\"><operation name=\"SetStoreApiData\"><soap:operation soapAction=\"a:S\"/>"
    "</operation><operation name=\"GetStoreApiDataOLE\"><soap:operation soapAction=\"a:G\"/></operation>"
    "<operation name=\"SetAndGetStoreApiDataOLE\"><soap:operation soapAction=\"a:A\"/></operation></binding>"
    "<service name=\"K\"><port name=\"KP\" binding=\"w:B\"/></service></definitions>";

const char* const kResponses[] = {
    ("<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:i=\"urn:i\"><E:Body><m:R xmlns:m=\"m\">"
     "<Result i:type=\"xsd:int\">-17</Result></m:R></E:Body></E:Envelope>"),
    "<E:Envelope xmlns:E=\"e\"><E:Body><R><Result xsi:type=\"xsd:string\">4.0</Result></R></E:Body></E:Envelope>",
    "<E:Envelope xmlns:E=\"e\"><E:Body><R><Other>x</Other><Result xsi:nil=\"true\"/></R></E:Body></E:Envelope>",
    "<E:Envelope xmlns:E=\"e\"><E:Body><E:Fault><faultcode>E:Client</faultcode></E:Fault></E:Body></E:Envelope>",
    "<E:Envelope><E:Body><R><Result xsi:type=\"xsd:unsignedByte\">300</Result></R></E:Body></E:Envelope>",
};

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "wsdl_soap_fuzz: %s\n", what);
        std::abort();
    }
}

void CheckTable(const std::vector<WsdlOperation>& table)
{
    Check(table.size() <= kWsdlMaxOperations, "too many operations");
    for (const WsdlOperation& op : table) {
        Check(op.parts.size() <= kWsdlMaxParts, "too many parts");
        Check(op.strName.size() <= kWsdlMaxName && op.strSoapAction.size() <= kWsdlMaxName, "name too long");
        int results = 0;
        for (const WsdlPart& p : op.parts) {
            Check(p.strElementName.size() <= kWsdlMaxName, "part name too long");
            results += p.lCallIndex == kWsdlResultIndex ? 1 : 0;
            Check(p.lCallIndex >= kWsdlResultIndex && p.lCallIndex < static_cast<int32_t>(2 * kWsdlMaxParts),
                  "call index out of range");
        }
        Check(results <= 1, "two result parts");
    }
}

uint64_t g_documentsRead = 0;

std::vector<WsdlOperation> ValidTable()
{
    std::vector<WsdlOperation> table;
    Check(ReadWsdl(kWsdl, sizeof kWsdl - 1, &table) && table.size() == 3, "the valid WSDL does not read");
    return table;
}

// Edits drawn from the input's own bytes (zero once they run out).
struct CByteSource {
    const uint8_t* p;
    size_t n;
    uint64_t Next()
    {
        uint64_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | (n > 0 ? (--n, *p++) : 0);
        return v;
    }
    uint32_t Below(uint32_t k) { return k == 0 ? 0 : static_cast<uint32_t>(Next() % k); }
    bool Empty() const { return n == 0; }
};

template <class Random>
std::string Mutate(std::string s, Random& rng)
{
    static const char* const kPieces[] = {"<", ">", "</", "/>", "\"", ":", "operation", "part", "message", "binding",
                                          "port", "service", "portType", "Result", "xsi:nil=\"1\"", "&amp;", "&#0;",
                                          "parameterOrder=\"id id id\"", "<![CDATA[", "]]>", "\xFF\xFE", "\0"};
    const uint32_t edits = 1 + rng.Below(8);
    for (uint32_t e = 0; e < edits && !s.empty(); ++e) {
        const size_t at = rng.Below(static_cast<uint32_t>(s.size()));
        switch (rng.Below(5)) {
        case 0:
            s[at] = static_cast<char>(rng.Next());
            break;
        case 1:
            s.erase(at, 1 + rng.Below(16));
            break;
        case 2:
            s.insert(at, kPieces[rng.Below(sizeof kPieces / sizeof kPieces[0])]);
            break;
        case 3:
            s.resize(at);   // cut short
            break;
        default: {
            const size_t from = rng.Below(static_cast<uint32_t>(s.size()));
            s.insert(at, s.substr(from, rng.Below(64)));   // repeat a piece
            break;
        }
        }
    }
    return s;
}

} // namespace

uint64_t WsdlSoapDocumentsRead() { return g_documentsRead; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    std::string edited;
    const char* text = reinterpret_cast<const char*>(data + 1);
    size_t length = size - 1;
    if (data[0] & 2) {
        CByteSource edits{data + 1, size - 1};
        edited = (data[0] & 1) ? kResponses[edits.Below(sizeof kResponses / sizeof kResponses[0])] : kWsdl;
        while (!edits.Empty())
            edited = Mutate(edited, edits);
        text = edited.data();
        length = edited.size();
    }
    if ((data[0] & 1) == 0) {
        std::vector<WsdlOperation> table;
        if (!ReadWsdl(text, length, &table))
            return 0;
        ++g_documentsRead;
        CheckTable(table);
        const SoapValue args[] = {SoapValue::Integer(0x240089), SoapValue::Text("Restorix.exe <&>"),
                                  SoapValue::Integer(-1), SoapValue::Text("12")};
        std::string body;
        for (const WsdlOperation& op : table)
            for (size_t count = 0; count <= 4; ++count)
                BuildSoapRequest(&op, args, count, &body);
        return 0;
    }
    static const std::vector<WsdlOperation> table = ValidTable();
    for (const WsdlOperation* op : {&table[0], &table[1], &table[2], static_cast<const WsdlOperation*>(nullptr)}) {
        const SoapValue v = ReadSoapResponse(text, length, op);
        Check(v.kind != SoapValue::Kind::Text || v.strText.size() <= length, "a text longer than the response");
    }
    return 0;
}
