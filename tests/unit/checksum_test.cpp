// Checksums and digests: the published check values of each algorithm, the
// HMAC test cases of the RFCs that define them, and the key-length rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "services/checksum.hpp"
#include "tests/unit/builder.hpp"

using namespace zuv;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }
Bytes rep(uint8_t byte, size_t n) { return Bytes(n, byte); }
Bytes hex(const std::string& h) {
    Bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}
std::string hex_of(const checksum::Digest& d) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (int32_t i = 0; i < d.size; i++) {
        out += digits[d.bytes[i] >> 4];
        out += digits[d.bytes[i] & 15];
    }
    return out;
}

TEST(Checksum, CheckValues) {
    struct Case {
        Bytes data;
        uint32_t crc, adler;
    };
    const Case cases[] = {
        {text(""), 0, 1},
        {text("abc"), 0x352441C2, 0x024D0127},
        {text("123456789"), 0xCBF43926, 0x091E01DE},
        {text("Wikipedia"), 0xADAAC02E, 0x11E60398},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checksum::crc32(c.data.data(), c.data.size()), c.crc);
        EXPECT_EQ(checksum::adler32(c.data.data(), c.data.size()), c.adler);
    }
}

// Long runs of 0xFF drive both Adler-32 sums to their largest values between
// reductions; reducing after every byte gives the reference.
TEST(Checksum, Adler32OfLongInputsMatchesReductionAtEveryByte) {
    for (size_t n : {3853u, 3854u, 3855u, 5552u, 100000u}) {
        Bytes data = rep(0xFF, n);
        data[n / 2] = 0x12;
        uint32_t s1 = 1, s2 = 0;
        for (uint8_t b : data) {
            s1 = (s1 + b) % 65521;
            s2 = (s2 + s1) % 65521;
        }
        EXPECT_EQ(checksum::adler32(data.data(), n), s2 << 16 | s1) << n;
    }
}

TEST(Checksum, Crc32ChainsOverChunks) {
    Bytes data = text("The quick brown fox jumps over the lazy dog");
    uint32_t crc = checksum::crc32_update(0, data.data(), 10);
    crc = checksum::crc32_update(crc, data.data() + 10, data.size() - 10);
    EXPECT_EQ(crc, 0x414FA339u);
}

TEST(Checksum, InternetChecksum) {
    struct Case {
        Bytes data;
        uint16_t expected;
    };
    const Case cases[] = {
        {hex("0001"), 0xFFFE},
        {hex("01"), 0xFEFF},
        {Bytes{}, 0xFFFF},
        {hex("0001F203F4F5F6F7"), 0x220D},  // the worked example of RFC 1071: the sum DDF2
        {rep(0xFF, 4), 0x0000},             // carries fold back until none remain
        {rep(0xFF, 100001), 0x00FF},
    };
    for (const Case& c : cases) EXPECT_EQ(checksum::tcp(c.data.data(), c.data.size()), c.expected);
}

TEST(Checksum, Digests) {
    const std::string million(1000000, 'a');
    const char* const two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const char* const long_blocks =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    struct Case {
        int32_t index;
        std::string data;
        const char* expected;
    };
    const Case cases[] = {
        // RFC 1321's suite
        {2, "", "D41D8CD98F00B204E9800998ECF8427E"},
        {2, "a", "0CC175B9C0F1B6A831C399E269772661"},
        {2, "abc", "900150983CD24FB0D6963F7D28E17F72"},
        {2, "message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {2, "abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {2, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {2, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
        // the FIPS 180 examples
        {3, "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {3, two_blocks, "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {3, million, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {4, "abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {4, two_blocks, "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {4, million, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
        {5, "abc",
         "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
        {5, long_blocks,
         "09330C33F71147E83D192FC782CD1B4753111B173B3B05D22FA08086E3B0F712FCC7C71A557E2DB966C3E9FA91746039"},
        {6, "abc",
         "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
         "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
        {6, long_blocks,
         "8E959B75DAE313DA8CF4F72814FC143F8F7779C6EB9F7FA17299AEADB6889018"
         "501D289E4900F7E4331B99DEC4B5433AC7D329EEB6DD26545E96E55B874BE909"},
    };
    for (const Case& c : cases) {
        auto d = checksum::digest(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size(), c.index);
        EXPECT_EQ(d.size, checksum::digest_size(c.index));
        EXPECT_EQ(hex_of(d), c.expected) << c.index << " " << c.data.substr(0, 20);
    }
}

// The test cases of RFC 2202 (HMAC-MD5, HMAC-SHA-1) and RFC 4231 (HMAC-SHA-2,
// with the 131-byte key), each digest in full.
TEST(Checksum, HmacTestCases) {
    struct Case {
        int32_t index;
        Bytes key, data;
        std::string expected;
    };
    const Case cases[] = {
    {2, rep(0x0B, 16), text("Hi There"),
     "9294727A3638BB1C13F48EF8158BFC9D"},
    {2, text("Jefe"), text("what do ya want for nothing?"),
     "750C783E6AB0B503EAA86E310A5DB738"},
    {2, rep(0xAA, 16), rep(0xDD, 50),
     "56BE34521D144C88DBB8C733F0E8B3F6"},
    {2, hex("0102030405060708090A0B0C0D0E0F10111213141516171819"), rep(0xCD, 50),
     "697EAF0ACA3A3AEA3A75164746FFAA79"},
    {2, rep(0x0C, 16), text("Test With Truncation"),
     "56461EF2342EDC00F9BAB995690EFD4C"},
    {2, rep(0xAA, 80), text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "6B1AB7FE4BD7BF8F0B62E6CE61B9D0CD"},
    {2, rep(0xAA, 80), text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size "
              "Data"),
     "6F630FAD67CDA0EE1FB1F562DB3AA53E"},
    {3, rep(0x0B, 20), text("Hi There"),
     "B617318655057264E28BC0B6FB378C8EF146BE00"},
    {3, text("Jefe"), text("what do ya want for nothing?"),
     "EFFCDF6AE5EB2FA2D27416D5F184DF9C259A7C79"},
    {3, rep(0xAA, 20), rep(0xDD, 50),
     "125D7342B9AC11CD91A39AF48AA17B4F63F175D3"},
    {3, hex("0102030405060708090A0B0C0D0E0F10111213141516171819"), rep(0xCD, 50),
     "4C9007F4026250C6BC8414F9BF50C86C2D7235DA"},
    {3, rep(0x0C, 20), text("Test With Truncation"),
     "4C1A03424B55E07FE7F27BE1D58BB9324A9A5A04"},
    {3, rep(0xAA, 80), text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "AA4AE5E15272D00E95705637CE8A3B55ED402112"},
    {3, rep(0xAA, 80), text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size "
              "Data"),
     "E8E99D0F45237D786D6BBAA7965C7808BBFF1A91"},
    {4, rep(0x0B, 20), text("Hi There"),
     "B0344C61D8DB38535CA8AFCEAF0BF12B881DC200C9833DA726E9376C2E32CFF7"},
    {5, rep(0x0B, 20), text("Hi There"),
     "AFD03944D84895626B0825F4AB46907F15F9DADBE4101EC682AA034C7CEBC59CFAEA9EA9076EDE7F4AF152E8B2FA9CB6"},
    {6, rep(0x0B, 20), text("Hi There"),
     "87AA7CDEA5EF619D4FF0B4241A1D6CB02379F4E2CE4EC2787AD0B30545E17CDE"
     "DAA833B7D6B8A702038B274EAEA3F4E4BE9D914EEB61F1702E696C203A126854"},
    {4, text("Jefe"), text("what do ya want for nothing?"),
     "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843"},
    {5, text("Jefe"), text("what do ya want for nothing?"),
     "AF45D2E376484031617F78D2B58A6B1B9C7EF464F5A01B47E42EC3736322445E8E2240CA5E69E2C78B3239ECFAB21649"},
    {6, text("Jefe"), text("what do ya want for nothing?"),
     "164B7A7BFCF819E2E395FBE73B56E0A387BD64222E831FD610270CD7EA250554"
     "9758BF75C05A994A6D034F65F8F0E6FDCAEAB1A34D4A6B4B636E070A38BCE737"},
    {4, rep(0xAA, 20), rep(0xDD, 50),
     "773EA91E36800E46854DB8EBD09181A72959098B3EF8C122D9635514CED565FE"},
    {5, rep(0xAA, 20), rep(0xDD, 50),
     "88062608D3E6AD8A0AA2ACE014C8A86F0AA635D947AC9FEBE83EF4E55966144B2A5AB39DC13814B94E3AB6E101A34F27"},
    {6, rep(0xAA, 20), rep(0xDD, 50),
     "FA73B0089D56A284EFB0F0756C890BE9B1B5DBDD8EE81A3655F83E33B2279D39"
     "BF3E848279A722C806B485A47E67C807B946A337BEE8942674278859E13292FB"},
    {4, hex("0102030405060708090A0B0C0D0E0F10111213141516171819"), rep(0xCD, 50),
     "82558A389A443C0EA4CC819899F2083A85F0FAA3E578F8077A2E3FF46729665B"},
    {5, hex("0102030405060708090A0B0C0D0E0F10111213141516171819"), rep(0xCD, 50),
     "3E8A69B7783C25851933AB6290AF6CA77A9981480850009CC5577C6E1F573B4E6801DD23C4A7D679CCF8A386C674CFFB"},
    {6, hex("0102030405060708090A0B0C0D0E0F10111213141516171819"), rep(0xCD, 50),
     "B0BA465637458C6990E5A8C5F61D4AF7E576D97FF94B872DE76F8050361EE3DB"
     "A91CA5C11AA25EB4D679275CC5788063A5F19741120C4F2DE2ADEBEB10A298DD"},
    {4, rep(0x0C, 20), text("Test With Truncation"),
     "A3B6167473100EE06E0C796C2955552BFA6F7C0A6A8AEF8B93F860AAB0CD20C5"},
    {5, rep(0x0C, 20), text("Test With Truncation"),
     "3ABF34C3503B2A23A46EFC619BAEF897F4C8E42C934CE55CCBAE9740FCBC1AF4CA62269E2A37CD88BA926341EFE4AEEA"},
    {6, rep(0x0C, 20), text("Test With Truncation"),
     "415FAD6271580A531D4179BC891D87A650188707922A4FBB36663A1EB16DA008"
     "711C5B50DDD0FC235084EB9D3364A1454FB2EF67CD1D29FE6773068EA266E96B"},
    {4, rep(0xAA, 131), text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "60E431591EE0B67F0D8A26AACBF5B77F8E0BC6213728C5140546040F0EE37F54"},
    {5, rep(0xAA, 131), text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "4ECE084485813E9088D2C63A041BC5B44F9EF1012A2B588F3CD11F05033AC4C60C2EF6AB4030FE8296248DF163F44952"},
    {6, rep(0xAA, 131), text("Test Using Larger Than Block-Size Key - Hash Key First"),
     "80B24263C7C1A3EBB71493C1DD7BE8B49B46D1F41B4AEEC1121B013783F8F352"
     "6B56D037E05F2598BD0FD2215D6A1E5295E64F73F63F0AEC8B915A985D786598"},
    {4, rep(0xAA, 131), text("This is a test using a larger than block-size key and a larger than "
              "block-size data. The key needs to be hashed before being used by the HMAC algorithm."),
     "9B09FFA71B942FCB27635FBCD5B0E944BFDC63644F0713938A7F51535C3A35E2"},
    {5, rep(0xAA, 131), text("This is a test using a larger than block-size key and a larger than "
              "block-size data. The key needs to be hashed before being used by the HMAC algorithm."),
     "6617178E941F020D351E2F254E8FD32C602420FEB0B8FB9ADCCEBB82461E99C5A678CC31E799176D3860E6110C46523E"},
    {6, rep(0xAA, 131), text("This is a test using a larger than block-size key and a larger than "
              "block-size data. The key needs to be hashed before being used by the HMAC algorithm."),
     "E37B6A775DC87DBAA4DFA9F96E5E3FFDDEBD71F8867289865DF5A32D20CDC944"
     "B6022CAC3C4982B10D5EEB55C3E4DE15134676FB6DE0446065C97440FA8C6A58"},
    };
    for (const Case& c : cases) {
        auto d = checksum::hmac(c.data.data(), c.data.size(), c.key.data(), c.key.size(), c.index);
        EXPECT_EQ(hex_of(d), c.expected) << c.index << " key of " << c.key.size();
    }
}

// A key longer than the block is replaced by its digest; a key of exactly a
// block is used as it stands.
TEST(Checksum, HmacKeyLengths) {
    Bytes data = text("data");
    Bytes long_key = rep(0x5A, 200);
    auto digested = checksum::digest(long_key.data(), long_key.size(), 4);
    EXPECT_EQ(hex_of(checksum::hmac(data.data(), 4, long_key.data(), 200, 4)),
              hex_of(checksum::hmac(data.data(), 4, digested.bytes, 32, 4)));
    Bytes block_key = rep(0x5A, 64);
    auto block_digest = checksum::digest(block_key.data(), 64, 4);
    EXPECT_NE(hex_of(checksum::hmac(data.data(), 4, block_key.data(), 64, 4)),
              hex_of(checksum::hmac(data.data(), 4, block_digest.bytes, 32, 4)));
    // SHA-512's block is 128 bytes: a 128-byte key is used as it stands.
    Bytes wide_key = rep(0x5A, 128);
    auto wide_digest = checksum::digest(wide_key.data(), 128, 6);
    EXPECT_NE(hex_of(checksum::hmac(data.data(), 4, wide_key.data(), 128, 6)),
              hex_of(checksum::hmac(data.data(), 4, wide_digest.bytes, 64, 6)));
}

TEST(Checksum, MethodsAndIndexes) {
    test::ensure_runtime();
    EXPECT_EQ(checksum::method_index(symbol::make("SHA256")), 4);
    EXPECT_EQ(checksum::method_index(symbol::make("tcp")), 0);
    EXPECT_EQ(checksum::method_index(symbol::make("adler32")), -1);
    EXPECT_TRUE(checksum::method_q(symbol::make("Hash")));
    EXPECT_FALSE(checksum::method_q(symbol::make("sha3")));
    EXPECT_EQ(checksum::digest_size(1), 0);
    EXPECT_EQ(test::raised([] { checksum::digest(nullptr, 0, 1); }), "script/invalid-arg");
}

TEST(Checksum, RandomBytesFillTheBuffer) {
    uint8_t a[64] = {}, b[64] = {};
    ASSERT_TRUE(checksum::random_bytes(a, sizeof a));
    ASSERT_TRUE(checksum::random_bytes(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

}  // namespace
