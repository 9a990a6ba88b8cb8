// SPDX-License-Identifier: Apache-2.0
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cli_payload.hpp"

namespace data_center {
namespace cli {
namespace {

using google::protobuf::util::MessageDifferencer;

// The job statistics answer: work_hours 3000, completed_tasks 40,
// clean_areas 80000.
const Bytes kRobotInfo = {0x0A, 0x09, 0x08, 0xB8, 0x17, 0x10, 0x28, 0x18, 0x80, 0xF1, 0x04};

Answer Make(int32_t code, const std::string & msg, const Bytes & payload) {
  Answer answer;
  answer.code = code;
  answer.msg = msg;
  answer.payload = payload;
  return answer;
}

BaseStationInfo TwoStations() {
  BaseStationInfo info;
  BsPose * a = info.add_bs_pose();
  a->set_map_id(3);
  a->set_x(1.5);
  a->set_y(-2.0);
  a->set_map_id_str("m3");
  BsPose * b = info.add_bs_pose();
  b->set_x(0.1);
  b->set_map_id_str("\xE5\x9C\xB0\xE5\x9B\xBE");  // UTF-8 text
  return info;
}

TEST(CliHex, AcceptsSeparatorsAndBothCases) {
  const Bytes expected = {0x0A, 0x09, 0xFF};
  for (const char * text : {"0A 09 FF", "0a:09:ff", "0A09fF", "  0a\t09\r\nff  ", "0A09 ff", "::0a::09ff"}) {
    Bytes out;
    std::string error;
    ASSERT_TRUE(ParseHex(text, &out, &error)) << text << ": " << error;
    EXPECT_EQ(out, expected) << text;
  }
  Bytes out = {1};
  std::string error;
  ASSERT_TRUE(ParseHex(" : ", &out, &error));
  EXPECT_TRUE(out.empty());
}

TEST(CliHex, RejectsOddGroupsAndForeignCharacters) {
  struct Case {
    const char * text;
    const char * says;
  };
  const Case cases[] = {{"A", "odd number of digits in 'A'"},     {"0A 9 08", "odd number of digits in '9'"},
                        {"0A0", "odd number of digits in '0A0'"}, {"0x0A", "'x' at position 2"},
                        {"0A-09", "'-' at position 3"},           {"0A,09", "','"},
                        {"0A\x01", "'\\x01' at position 3"}};
  for (const Case & c : cases) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(ParseHex(c.text, &out, &error)) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << ": " << error;
  }
}

TEST(CliHex, FormatWrapsAndReadsBack) {
  EXPECT_EQ(FormatHex({}), "");
  EXPECT_EQ(FormatHex({0x00, 0xAB}), "00 AB\n");
  Bytes seventeen;
  for (int i = 0; i < 17; ++i) seventeen.push_back(static_cast<uint8_t>(i * 15));
  const std::string text = FormatHex(seventeen);
  EXPECT_EQ(text, "00 0F 1E 2D 3C 4B 5A 69 78 87 96 A5 B4 C3 D2 E1\nF0\n");
  Bytes back;
  std::string error;
  ASSERT_TRUE(ParseHex(text, &back, &error)) << error;
  EXPECT_EQ(back, seventeen);
}

TEST(CliStations, TextAndJsonGiveTheSameList) {
  const std::string text =
      "# comment\n"
      "bs_pose { map_id: 3 x: 1.5 y: -2 map_id_str: \"m3\" }\n"
      "bs_pose { x: 0.1 map_id_str: \"\xE5\x9C\xB0\xE5\x9B\xBE\" }\n";
  const std::string json = R"( {"bs_pose": [{"map_id": 3, "x": 1.5, "y": -2, "map_id_str": "m3"},
                                            {"x": 0.1, "mapIdStr": "地图"}]})";
  for (const auto & input :
       {std::make_pair(text, InputFormat::kText), std::make_pair(json, InputFormat::kJson)}) {
    SCOPED_TRACE(input.first);
    EXPECT_EQ(DetectInputFormat(input.first), input.second);
    for (InputFormat format : {InputFormat::kAuto, input.second}) {
      BaseStationInfo info;
      std::string error;
      ASSERT_TRUE(ParseStationList(input.first, format, &info, &error)) << error;
      EXPECT_TRUE(MessageDifferencer::Equals(info, TwoStations())) << info.DebugString();
    }
  }
}

TEST(CliStations, EmptyInputIsAnEmptyList) {
  for (const char * text : {"", " \n\t", "# nothing\n"}) {
    BaseStationInfo info = TwoStations();
    std::string error;
    ASSERT_TRUE(ParseStationList(text, InputFormat::kAuto, &info, &error)) << error;
    EXPECT_EQ(info.bs_pose_size(), 0);
    Bytes bytes = {1};
    ASSERT_TRUE(SerializeMessage(info, &bytes));
    EXPECT_TRUE(bytes.empty());
  }
}

TEST(CliStations, BadInputIsRefusedWithAPosition) {
  struct Case {
    const char * text;
    InputFormat format;
    const char * says;
  };
  const Case cases[] = {
      {"bs_pose { map_id: 1 }\nbs_pose { heading: 2 }", InputFormat::kAuto, "line 2, column"},
      {"bs_pose { map_id: 4294967296 }", InputFormat::kText, "line 1"},
      {"bs_pose { x: 1", InputFormat::kText, "text format"},
      {R"({"bs_pose": [{"heading": 2}]})", InputFormat::kAuto, "JSON"},
      {R"({"bs_pose": [{"x": "left"}]})", InputFormat::kJson, "JSON"},
      {R"({"bs_pose": []} trailing)", InputFormat::kJson, "JSON"},
      {"bs_pose { x: 1 }", InputFormat::kJson, "JSON"},
      {R"({"bs_pose": []})", InputFormat::kText, "text format"},
      // The service would refuse it; the field is named before anything is sent.
      {"bs_pose { map_id_str: \"ok\" } bs_pose { map_id_str: \"\\xff\" }", InputFormat::kText,
       "bs_pose[1].map_id_str is not UTF-8"},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.text);
    BaseStationInfo info;
    std::string error;
    EXPECT_FALSE(ParseStationList(c.text, c.format, &info, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(CliAnswer, RobotInfoDecodesInTextAndJson) {
  const Answer answer = Make(0, "", kRobotInfo);
  EXPECT_EQ(RenderAnswer(answer, PayloadKind::kRobotInfoResp, OutputFormat::kText, false).out,
            "code: 0\n"
            "msg: \"\"\n"
            "payload: RobotInfoResp (11 bytes)\n"
            "job_info {\n"
            "  work_hours: 3000\n"
            "  completed_tasks: 40\n"
            "  clean_areas: 80000\n"
            "}\n");
  const Rendered json = RenderAnswer(answer, PayloadKind::kRobotInfoResp, OutputFormat::kJson, false);
  EXPECT_EQ(json.out,
            "code: 0\n"
            "msg: \"\"\n"
            "payload: RobotInfoResp (11 bytes)\n"
            "{\"job_info\":{\"work_hours\":3000,\"completed_tasks\":40,\"clean_areas\":80000}}\n");
  EXPECT_EQ(json.err, "");
}

TEST(CliAnswer, StationsPrintedAsTextCanBeSentBack) {
  Bytes bytes;
  ASSERT_TRUE(SerializeMessage(TwoStations(), &bytes));
  for (OutputFormat format : {OutputFormat::kText, OutputFormat::kJson}) {
    const std::string out = RenderAnswer(Make(0, "", bytes), PayloadKind::kBaseStationInfo, format, true).out;
    BaseStationInfo back;
    std::string error;
    ASSERT_TRUE(ParseStationList(out, InputFormat::kAuto, &back, &error)) << out << error;
    EXPECT_TRUE(MessageDifferencer::Equals(back, TwoStations())) << out;
  }
}

TEST(CliAnswer, EmptyAnswers) {
  EXPECT_EQ(RenderAnswer(Make(0, "", {}), PayloadKind::kBaseStationInfo, OutputFormat::kText, false).out,
            "code: 0\nmsg: \"\"\npayload: BaseStationInfo (0 bytes)\n");
  EXPECT_EQ(RenderAnswer(Make(0, "", {}), PayloadKind::kBaseStationInfo, OutputFormat::kJson, false).out,
            "code: 0\nmsg: \"\"\npayload: BaseStationInfo (0 bytes)\n{\"bs_pose\":[]}\n");
  EXPECT_EQ(
      RenderAnswer(Make(10006, "Deserialize data failed", {}), PayloadKind::kHex, OutputFormat::kText, false)
          .out,
      "code: 10006\nmsg: \"Deserialize data failed\"\npayload: hex (0 bytes)\n");
}

TEST(CliAnswer, RawAnswersStayHexEvenWhenTheyWouldDecode) {
  EXPECT_EQ(RenderAnswer(Make(0, "", kRobotInfo), PayloadKind::kHex, OutputFormat::kJson, false).out,
            "code: 0\nmsg: \"\"\npayload: hex (11 bytes)\n0A 09 08 B8 17 10 28 18 80 F1 04\n");
}

TEST(CliAnswer, UndecodablePayloadFallsBackToHex) {
  // A length-delimited tag with no length.
  EXPECT_EQ(RenderAnswer(Make(0, "", {0x0A}), PayloadKind::kBaseStationInfo, OutputFormat::kText, false).out,
            "code: 0\nmsg: \"\"\npayload: hex (1 byte; not a valid BaseStationInfo)\n0A\n");
  // A string field cut short is no MapInfo either, whatever its bytes.
  const Rendered quiet =
      RenderAnswer(Make(0, "", {0x12, 0x03, 0xFF}), PayloadKind::kMapInfo, OutputFormat::kText, true);
  EXPECT_EQ(quiet.out, "12 03 FF\n");
  EXPECT_NE(quiet.err.find("not a valid MapInfo"), std::string::npos) << quiet.err;
}

// The node answers a map identifier as it read it, UTF-8 or not.
TEST(CliAnswer, TextThatIsNotUtf8IsShownWithEscapesAndANote) {
  const Bytes map = {0x12, 0x03, 'm', 0xFF, '"'};
  testing::internal::CaptureStderr();
  const Rendered text = RenderAnswer(Make(0, "", map), PayloadKind::kMapInfo, OutputFormat::kText, false);
  const Rendered json = RenderAnswer(Make(0, "", map), PayloadKind::kMapInfo, OutputFormat::kJson, false);
  const Rendered quiet = RenderAnswer(Make(0, "", map), PayloadKind::kMapInfo, OutputFormat::kJson, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no library noise on the terminal";

  const std::string header =
      "code: 0\nmsg: \"\"\npayload: MapInfo (5 bytes; map_id_str is not UTF-8, shown "
      "with \\xHH escapes)\n";
  EXPECT_EQ(text.out, header + "map_id_str: \"m\\xFF\\\"\"\n");
  EXPECT_EQ(json.out, header + R"({"map_id":0,"map_id_str":"m\\xFF\\\""})" + "\n");
  EXPECT_EQ(quiet.out, R"({"map_id":0,"map_id_str":"m\\xFF\\\""})"
                       "\n");
  EXPECT_EQ(quiet.err, "payload: map_id_str is not UTF-8, shown with \\xHH escapes\n");

  // Every such field is named, and the text form reads back to the same bytes.
  BaseStationInfo info = TwoStations();
  info.mutable_bs_pose(1)->set_map_id_str("\xE5\x9C");  // cut short
  info.add_bs_pose()->set_map_id_str("\xC0\x80");       // overlong
  const std::string wire = info.SerializePartialAsString();
  const Bytes bytes(wire.begin(), wire.end());
  testing::internal::CaptureStderr();
  const Rendered list =
      RenderAnswer(Make(0, "", bytes), PayloadKind::kBaseStationInfo, OutputFormat::kText, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(list.err,
            "payload: bs_pose[1].map_id_str, bs_pose[2].map_id_str are not UTF-8, shown with \\xHH "
            "escapes\n");
  BaseStationInfo read_back;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(list.out, &read_back)) << list.out;
  EXPECT_EQ(read_back.SerializePartialAsString(), wire) << list.out;
}

TEST(CliAnswer, UnknownFieldsAreNeverDropped) {
  // Field 5 (varint 7) at the top and inside a pose.
  const Bytes top = {0x28, 0x07};
  const Bytes nested = {0x0A, 0x04, 0x08, 0x02, 0x28, 0x07};
  for (const Bytes & bytes : {top, nested}) {
    BaseStationInfo info;
    ASSERT_TRUE(info.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_TRUE(HasUnknownFields(info));

    const std::string text =
        RenderAnswer(Make(0, "", bytes), PayloadKind::kBaseStationInfo, OutputFormat::kText, true).out;
    EXPECT_NE(text.find("5: 7"), std::string::npos) << text;

    const std::string json =
        RenderAnswer(Make(0, "", bytes), PayloadKind::kBaseStationInfo, OutputFormat::kJson, false).out;
    EXPECT_NE(json.find("payload: hex (" + std::to_string(bytes.size()) +
                        " bytes; BaseStationInfo with fields outside the schema"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(FormatHex(bytes)), std::string::npos) << json;
  }
  EXPECT_FALSE(HasUnknownFields(TwoStations()));
}

TEST(CliAnswer, QuietPrintsOnlyTheBodyAndReportsFailureCodes) {
  const Rendered ok =
      RenderAnswer(Make(0, "", kRobotInfo), PayloadKind::kRobotInfoResp, OutputFormat::kJson, true);
  EXPECT_EQ(ok.out, "{\"job_info\":{\"work_hours\":3000,\"completed_tasks\":40,\"clean_areas\":80000}}\n");
  EXPECT_EQ(ok.err, "");
  const Rendered failed = RenderAnswer(Make(10002, "", {}), PayloadKind::kMapInfo, OutputFormat::kText, true);
  EXPECT_EQ(failed.out, "");
  EXPECT_NE(failed.err.find("code 10002"), std::string::npos) << failed.err;
}

TEST(CliAnswer, MessageTextIsQuotedUnambiguously) {
  EXPECT_EQ(QuoteText(""), "\"\"");
  EXPECT_EQ(QuoteText("a \"b\" \\ c\n\t\r"), "\"a \\\"b\\\" \\\\ c\\n\\t\\r\"");
  EXPECT_EQ(QuoteText(std::string("\x01\x7f\0z", 4)), "\"\\x01\\x7F\\x00z\"");
  EXPECT_EQ(QuoteText("caf\xC3\xA9 \xF0\x9F\x98\x80"),
            "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");  // valid UTF-8 kept
  EXPECT_EQ(QuoteText("\xFF"), "\"\\xFF\"");
  EXPECT_EQ(QuoteText("\xE2\x82"), "\"\\xE2\\x82\"");                    // cut short
  EXPECT_EQ(QuoteText("\xC0\x80"), "\"\\xC0\\x80\"");                    // overlong
  EXPECT_EQ(QuoteText("\xE0\x80\x80"), "\"\\xE0\\x80\\x80\"");           // overlong
  EXPECT_EQ(QuoteText("\xED\xA0\x80"), "\"\\xED\\xA0\\x80\"");           // surrogate
  EXPECT_EQ(QuoteText("\xF4\x90\x80\x80"), "\"\\xF4\\x90\\x80\\x80\"");  // above U+10FFFF
  EXPECT_EQ(RenderAnswer(Make(-3, "bad \"x\"", {}), PayloadKind::kHex, OutputFormat::kText, false).out,
            "code: -3\nmsg: \"bad \\\"x\\\"\"\npayload: hex (0 bytes)\n");
}

TEST(CliInput, ReadsWholeFilesWithinTheLimit) {
  std::istringstream ten("0123456789");
  std::string data;
  std::string error;
  EXPECT_FALSE(ReadStream(ten, 9, &data, &error));
  EXPECT_NE(error.find("larger than 9 bytes"), std::string::npos);
  std::istringstream again("0123456789");
  ASSERT_TRUE(ReadStream(again, 10, &data, &error));
  EXPECT_EQ(data, "0123456789");

  char dir_template[] = "/tmp/cli_input_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string path = dir + "/payload.bin";
  const std::string binary("\x0A\x00\xFF\n\r", 5);
  { std::ofstream(path, std::ios::binary) << binary; }
  ASSERT_TRUE(ReadInput(path, &data, &error)) << error;
  EXPECT_EQ(data, binary);

  EXPECT_FALSE(ReadInput(dir + "/missing", &data, &error));
  EXPECT_NE(error.find("cannot open '" + dir + "/missing'"), std::string::npos) << error;
  EXPECT_FALSE(ReadInput(dir, &data, &error));
  EXPECT_NE(error.find("cannot read '" + dir + "'"), std::string::npos) << error;

  std::remove(path.c_str());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace cli
}  // namespace data_center
