// The channel-description writers: exact documents, the mode and target matrix, write
// failures, and round trips through the readers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "chan_descr_records.h"
#include "parse_chan_descr.h"
#include "test_support.h"

namespace {

using namespace xrq5_test;

// Two records of one property (only the first is written), a bit field without DAQ
// name, and a matrix channel with dimensions and statistics.
void sample(descr_list& l) {
  chan_descr_2010* a = make("A/B");
  a->stream = 1;
  a->ev_type = 1;
  a->dtype = 38;
  a->db_key = 12;
  a->count = 3;
  strcpy(a->sb_name, "SB");
  strcpy(a->daq_name, "AB.X");
  strcpy(a->units, "mm");
  strcpy(a->prop_desc, "pos");
  a->max_size = 4;
  a->dims = {dim(0, 1), dim(1, 0)};
  a->ndims = 2;
  strcpy(a->dims[0]->dim_name, "x");
  strcpy(a->dims[0]->stats[0]->stat_name, "mean");
  chan_descr_2010* again = make("A/B");
  chan_descr_2010* bits = make("C/D");
  bits->ev_type = 20;
  bits->bits = {bit(0, "on"), bit(3, "trip")};
  bits->nbits = 2;
  l = {a, again, bits};
}

const char tag_doc[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n"
    "<CHANNEL>\n<STREAM>1</STREAM>\n<EVTYPE>1</EVTYPE>\n<DTYPE>38</DTYPE>\n<DB_KEY>12</DB_KEY>\n"
    "<COUNT>3</COUNT>\n<SB_NAME>SB</SB_NAME>\n<PROP>A/B</PROP>\n<NAME>AB.X</NAME>\n"
    "<SETPOINT>0</SETPOINT>\n<SUBSYSTEM></SUBSYSTEM>\n<UNITS>mm</UNITS>\n<DESC>pos</DESC>\n"
    "<SIZE>4</SIZE>\n<DIM>0\n<DIM_NAME>x</DIM_NAME>\n<DIM_UNITS></DIM_UNITS>\n"
    "<DIM_DESCR></DIM_DESCR>\n<STAT>0\n<STAT_NAME>mean</STAT_NAME>\n<STAT_UNITS></STAT_UNITS>\n"
    "<STAT_DESCR></STAT_DESCR>\n</STAT>\n</DIM>\n<DIM>1\n<DIM_NAME></DIM_NAME>\n"
    "<DIM_UNITS></DIM_UNITS>\n<DIM_DESCR></DIM_DESCR>\n</DIM>\n</CHANNEL>\n"
    "<CHANNEL>\n<STREAM>0</STREAM>\n<EVTYPE>20</EVTYPE>\n<DTYPE>0</DTYPE>\n<DB_KEY>-1</DB_KEY>\n"
    "<COUNT>0</COUNT>\n<SB_NAME></SB_NAME>\n<PROP>C/D</PROP>\n<NAME>!!!UNDEFINED!!!</NAME>\n"
    "<SETPOINT>0</SETPOINT>\n<SUBSYSTEM></SUBSYSTEM>\n<UNITS></UNITS>\n<DESC></DESC>\n"
    "<SIZE>1</SIZE>\n<BIT>0\n<BIT_NAME>on</BIT_NAME>\n<BIT_DESCR></BIT_DESCR>\n</BIT>\n"
    "<BIT>3\n<BIT_NAME>trip</BIT_NAME>\n<BIT_DESCR></BIT_DESCR>\n</BIT>\n</CHANNEL>\n"
    "</CHANDESCRIPTIONS>\n\n";

const char var_doc[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<DAQvariables>\n"
    "<DaqFloatMatrix>\n<evType>1</evType>\n<tarvo>A/B</tarvo>\n<daqName>AB.X</daqName>\n"
    "<DBKey>12</DBKey>\n<setPoint>0</setPoint>\n<sbName>SB</sbName>\n<subSystem></subSystem>\n"
    "<description>pos</description>\n<units>mm</units>\n<firstIndex>0</firstIndex>\n"
    "<lastIndex>3</lastIndex>\n<dimension id=\"0\">\n<name>x</name>\n<description></description>\n"
    "<units></units>\n</dimension>\n<dimension id=\"1\">\n<name></name>\n"
    "<description></description>\n<units></units>\n</dimension>\n<freq>1</freq>\n"
    "</DaqFloatMatrix>\n"
    "<DaqBits>\n<evType>20</evType>\n<tarvo>C/D</tarvo>\n<daqName>!!!UNDEFINED!!!</daqName>\n"
    "<DBKey>-1</DBKey>\n<setPoint>0</setPoint>\n<sbName></sbName>\n<subSystem></subSystem>\n"
    "<description></description>\n<units></units>\n<bitTitle bit=\"0\">on</bitTitle>\n"
    "<bitTitle bit=\"3\">trip</bitTitle>\n<freq>-1</freq>\n</DaqBits>\n</DAQvariables>\n\n";

std::string without_date(const std::string& doc) {
  return std::regex_replace(doc, std::regex("\t<isodate>[0-9T:-]{19}</isodate>\n"), "");
}

TEST(dump_chan_desr, exact_documents_of_both_forms) {
  owned_list l;
  sample(l.v);
  std::string tag = "kept:", var;
  EXPECT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, &tag, nullptr), 0);
  EXPECT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, VESK_FORMAT, -1, &var, nullptr), 0);
  EXPECT_EQ(tag, std::string("kept:") + tag_doc) << "appended; no date without a file";
  EXPECT_EQ(var, var_doc);

  temp_dir d;
  std::string path = d.path() + "/t.xml";
  std::string also;
  EXPECT_EQ(dump_chan_desr(&l.v, &path[0], DUMP_XML_FILE, XRQ5_FORMAT, -1, &also, nullptr), 0);
  const std::string file = read_file(path);
  EXPECT_EQ(file, also);
  EXPECT_NE(file.find("<CHANDESCRIPTIONS>\n\t<isodate>"), std::string::npos);
  EXPECT_EQ(without_date(file), tag_doc);
  std::string vpath = d.path() + "/v.xml";
  EXPECT_EQ(dump_chan_desr(&l.v, &vpath[0], DUMP_XML_FILE, VESK_FORMAT, -1, nullptr, nullptr), 0);
  EXPECT_EQ(read_file(vpath), var_doc) << "the variable form has no date";
}

TEST(dump_chan_desr, dimension_parameters) {
  owned_list l;
  chan_descr_2010* spect = make("S");
  strcpy(spect->daq_name, "SPECT");
  spect->dims = {dim(1, 0)};
  spect->ndims = 1;
  chan_descr_2010* cam = make("C");
  strcpy(cam->daq_name, "CAM");
  l.v = {spect, cam};
  xrq5_spect_header_2010 sh[2] = {{0.0f, 1.0f, 10, 1, 1.0f}, {5.0f, 0.5f, 20, 2, 2.0f}};
  xrq5_image_ext_frame_head ih[1] = {};
  ih[0].width = 640;
  ih[0].height = 480;
  ih[0].aoi_width = 0;
  ih[0].aoi_height = 100;
  ih[0].bpp = 2;
  ih[0].ispare4 = -1;
  ih[0].fspare2 = 1.5f;
  dim_params unused{const_cast<char*>("SPECT"), 0, sh, nullptr};
  dim_params ps{const_cast<char*>("SPECT"), 2, sh, nullptr};
  dim_params pc{const_cast<char*>("CAM"), 1, nullptr, ih};
  std::vector<dim_params*> dims{&unused, &ps, &pc};
  std::string out;
  ASSERT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, &out, &dims), 0);
  // The dimension with id 1 holds spectrum header 1.
  EXPECT_NE(out.find("<DIM>1\n<DIM_NAME></DIM_NAME>\n<DIM_UNITS></DIM_UNITS>\n"
                     "<DIM_DESCR></DIM_DESCR>\n<DIM_START>5.000000e+00</DIM_START>\n"
                     "<DIM_INC>5.000000e-01</DIM_INC>\n<DIM_NDATA>20</DIM_NDATA>\n"
                     "<DIM_GROUPS>2</DIM_GROUPS>\n<DIM_GROUP_INC>2.000000e+00</DIM_GROUP_INC>\n"
                     "</DIM>\n"),
            std::string::npos)
      << out;
  // Without dimension records: num DIM elements, DIM j with image header j.
  EXPECT_NE(out.find("<SIZE>1</SIZE>\n<DIM>0\n<DIM_XSTART>0</DIM_XSTART>\n"
                     "<DIM_WIDTH>640</DIM_WIDTH>\n<DIM_YSTART>0</DIM_YSTART>\n"
                     "<DIM_HEIGHT>100</DIM_HEIGHT>\n<DIM_BPP>2</DIM_BPP>\n"
                     "<DIM_START>1.500000e+00</DIM_START>\n</DIM>\n</CHANNEL>\n"),
            std::string::npos)
      << out;
}

TEST(dump_chan_desr, mode_and_target_matrix) {
  owned_list l;
  sample(l.v);
  capture printed;
  print_xrq5_chan_descr(&l.v);
  printed.stop();
  for (int mode : {DUMP_TO_SCREEN, DUMP_TXT_FILE, DUMP_XML_FILE, DUMP_TXT_FILE_SHORT}) {
    SCOPED_TRACE(mode);
    capture cap;
    const int r = dump_chan_desr(&l.v, nullptr, mode, XRQ5_FORMAT, -1, nullptr, nullptr);
    cap.stop();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(cap.out(), printed.out()) << "no target: the list is printed";
  }

  temp_dir d;
  std::string path = d.path() + "/out";
  std::string s;
  EXPECT_EQ(dump_chan_desr(&l.v, &path[0], DUMP_TO_SCREEN, XRQ5_FORMAT, -1, &s, nullptr), 0);
  EXPECT_EQ(read_file(path), "") << "mode 0 with a file: created empty";
  EXPECT_EQ(s, "");
  EXPECT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_TXT_FILE, XRQ5_FORMAT, -1, &s, nullptr), 0);
  EXPECT_EQ(s, "") << "text modes write to the file only";

  EXPECT_EQ(dump_chan_desr(&l.v, &path[0], DUMP_TXT_FILE, XRQ5_FORMAT, -1, nullptr, nullptr), 0);
  EXPECT_EQ(read_file(path),
            "1\t1\tAB.X\tA/B\t0\t\"pos\"\t\"mm\"\t4\t0\t2\n0\tx\t\"\"\t\"\"\n1\n0\tmean\t\"\"\t\"\"\n"
            "1\t\t\"\"\t\"\"\n0\n"
            "0\t20\t!!!UNDEFINED!!!\tC/D\t0\t\"\"\t\"\"\t1\t2\t0\n0\ton\t\"\"\n3\ttrip\t\"\"\n");

  l.v[0]->dtype = 0x80000002;
  l.v[2]->dtype = 0;
  capture cap;
  EXPECT_EQ(dump_chan_desr(&l.v, &path[0], DUMP_TXT_FILE_SHORT, XRQ5_FORMAT, -1, nullptr, nullptr),
            0);
  cap.stop();
  EXPECT_EQ(read_file(path), std::string(46, ' ') + "AB.X\t4\tUPD_BLOCK_2010\n" +
                                 std::string(35, ' ') + "!!!UNDEFINED!!!\t1\tUNKNOWN\n");
  EXPECT_EQ(cap.out(), "\n") << "an empty line per record with a data type";

  // Mode 2 to a descriptor.
  const int fd = open((d.path() + "/fd.xml").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, VESK_FORMAT, fd, nullptr, nullptr), 0);
  close(fd);
  EXPECT_EQ(read_file(d.path() + "/fd.xml").substr(0, 60),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<DAQvariables>\n");
}

TEST(dump_chan_desr, failures_are_reported) {
  owned_list l;
  sample(l.v);
  temp_dir d;
  std::string missing = d.path() + "/no/such/dir/x.xml";
  std::string full = "/dev/full";
  capture cap;
  int pipe_fd[2];
  ASSERT_EQ(pipe(pipe_fd), 0);
  close(pipe_fd[0]);
  close(pipe_fd[1]);  // a closed descriptor (closed after the capture took its own)
  const int bad_format = dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, INVD_FORMAT, -1, nullptr, nullptr);
  const int no_list = dump_chan_desr(nullptr, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, nullptr, nullptr);
  const int no_dir = dump_chan_desr(&l.v, &missing[0], DUMP_XML_FILE, XRQ5_FORMAT, -1, nullptr, nullptr);
  const int disk_full = dump_chan_desr(&l.v, &full[0], DUMP_XML_FILE, XRQ5_FORMAT, -1, nullptr, nullptr);
  const int text_full = dump_chan_desr(&l.v, &full[0], DUMP_TXT_FILE, XRQ5_FORMAT, -1, nullptr, nullptr);
  std::string s;
  const int closed = dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, pipe_fd[1], &s, nullptr);
  cap.stop();
  EXPECT_EQ(bad_format, XRQ5_DUMP_FAILED);
  EXPECT_EQ(no_list, XRQ5_DUMP_FAILED);
  EXPECT_EQ(no_dir, XRQ5_DUMP_OPEN_FAILED);
  EXPECT_EQ(disk_full, XRQ5_DUMP_FAILED);
  EXPECT_EQ(text_full, XRQ5_DUMP_FAILED);
  EXPECT_EQ(closed, XRQ5_DUMP_FAILED);
  EXPECT_EQ(s, "") << "nothing appended after the failed write";
  EXPECT_EQ(cap.out(),
            "dump_chan_desr() invalid argument: '\ndump_chan_desr() invalid argument: '\n"
            "dump_chan_desr() failed to open file: '" + missing + "'\n"
            "dump_chan_desr() failed to write file: '/dev/full'\n"
            "dump_chan_desr() failed to write file: '/dev/full'\n"
            "dump_chan_desr()  write failed\n");
  EXPECT_NE(cap.err().find("fopen: No such file or directory"), std::string::npos) << cap.err();
  EXPECT_NE(cap.err().find("No space left on device"), std::string::npos) << cap.err();
}

// Lists far larger than one block of the file target: the file, a descriptor and a
// string get the same document, and the file keeps its whole document when the
// descriptor fails.
TEST(dump_chan_desr, large_lists_write_the_same_to_every_target) {
  owned_list l;
  for (int i = 0; i < 3000; ++i) {
    const std::string prop = "LINAC/BPM/ARC." + std::to_string(i % 2500) + "/X";  // 500 repeated
    chan_descr_2010* c = make(prop.c_str());
    c->ev_type = static_cast<unsigned int>(1 + i % 30);
    c->db_key = i * 37 - 5000;
    c->max_size = i % 5 == 0 ? 16 : 1;
    if (i % 7 != 0) snprintf(c->daq_name, sizeof c->daq_name, "BPM.ARC.%d", i);
    snprintf(c->prop_desc, sizeof c->prop_desc, "x & y <%d> \"q\" caf\xc3\xa9 \xe4\xb8\xad", i);
    memset(c->units, 'u', sizeof c->units);  // no terminator
    if (i % 3 == 0) {
      c->bits = {bit(i % 32, "on<&>"), bit(31, "trip")};
      c->nbits = 2;
    }
    if (i % 5 == 0) {
      c->dims = {dim(0, 2)};
      c->ndims = 1;
      strcpy(c->dims[0]->dim_name, "x\ty");
    }
    l.v.push_back(c);
  }
  temp_dir d;
  for (int format : {XRQ5_FORMAT, VESK_FORMAT}) {
    SCOPED_TRACE(format);
    std::string whole;
    ASSERT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, format, -1, &whole, nullptr), 0);
    ASSERT_GT(whole.size(), 600000u);
    EXPECT_EQ(whole.find("LINAC/BPM/ARC.2499/X"), whole.rfind("LINAC/BPM/ARC.2499/X"))
        << "a property is written once";
    EXPECT_NE(whole.find("x &amp; y &lt;0&gt; \"q\" caf\xe9 &#20013;"), std::string::npos);
    EXPECT_NE(whole.find(std::string(16, 'u') + "</"), std::string::npos);

    std::string path = d.path() + "/big.xml";
    const std::string fd_path = d.path() + "/fd.xml";
    const int fd = open(fd_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dump_chan_desr(&l.v, &path[0], DUMP_XML_FILE, format, fd, nullptr, nullptr), 0);
    close(fd);
    std::string file = read_file(path);
    EXPECT_TRUE(read_file(fd_path) == file) << "the descriptor gets what the file gets";
    if (format == XRQ5_FORMAT) {
      // The file alone carries the date line after the root.
      const size_t at = file.find("\t<isodate>");
      ASSERT_NE(at, std::string::npos);
      file.erase(at, file.find('\n', at) + 1 - at);
    }
    EXPECT_TRUE(file == whole) << "file: " << file.size() << " bytes, string: " << whole.size();

    // A descriptor open for reading only: the write fails, the file is still whole.
    const int read_only = open(fd_path.c_str(), O_RDONLY);
    ASSERT_GE(read_only, 0);
    capture cap;
    const int r =
        dump_chan_desr(&l.v, &path[0], DUMP_XML_FILE, format, read_only, nullptr, nullptr);
    cap.stop();
    close(read_only);
    EXPECT_EQ(r, XRQ5_DUMP_FAILED);
    EXPECT_EQ(cap.out(), "dump_chan_desr()  write failed\n") << "reported once";
    if (format == VESK_FORMAT) {
      EXPECT_TRUE(read_file(path) == whole);
    }
  }
  // The listings, a few times larger than a block, end as they began.
  std::string path = d.path() + "/big.txt";
  ASSERT_EQ(dump_chan_desr(&l.v, &path[0], DUMP_TXT_FILE, XRQ5_FORMAT, -1, nullptr, nullptr), 0);
  const std::string text = read_file(path);
  EXPECT_GT(text.size(), 200000u);
  EXPECT_EQ(text.substr(0, 24), "0\t1\t!!!UNDEFINED!!!\tLINA");
  EXPECT_NE(text.find("\n0\t1\tBPM.ARC.2490\tLINAC/BPM/ARC.2490/X\t0\t\"x & y <2490>"),
            std::string::npos);
  EXPECT_EQ(text.find("ARC.3000"), std::string::npos);
}

TEST(dump_chan_desr, round_trips_agree) {
  owned_list l;
  sample(l.v);
  // Tag form: write, read without shift, write again: the same document.
  std::string w1, w2;
  ASSERT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, &w1, nullptr), 0);
  owned_list back;
  ASSERT_EQ(parse_descr_list_read(&w1[0], &back.v, false, false), 0);
  ASSERT_EQ(dump_chan_desr(&back.v, nullptr, DUMP_XML_FILE, XRQ5_FORMAT, -1, &w2, nullptr), 0);
  EXPECT_EQ(w1, w2);
  EXPECT_STREQ(back.v[1]->daq_name, "!!!UNDEFINED!!!");

  // Variable form: what it does not carry reads back as defaults, then it is stable.
  std::string v1, v2, v3;
  ASSERT_EQ(dump_chan_desr(&l.v, nullptr, DUMP_XML_FILE, VESK_FORMAT, -1, &v1, nullptr), 0);
  owned_list b1, b2;
  ASSERT_EQ(parse_descr_list_read(&v1[0], &b1.v, false, false), 0);
  ASSERT_EQ(b1.v.size(), 2u);
  EXPECT_EQ(b1.v[0]->stream, 0);
  EXPECT_EQ(b1.v[0]->dtype, 0u);
  EXPECT_EQ(b1.v[0]->count, 0);
  EXPECT_EQ(b1.v[0]->db_key, -1);
  EXPECT_EQ(b1.v[0]->max_size, 4) << "lastIndex restores the size";
  EXPECT_EQ(b1.v[0]->ndims, 2);
  ASSERT_EQ(b1.v[1]->nbits, 2) << "one bit per bitTitle";
  EXPECT_STREQ(b1.v[1]->bits[1]->bit_name, "trip");
  ASSERT_EQ(dump_chan_desr(&b1.v, nullptr, DUMP_XML_FILE, VESK_FORMAT, -1, &v2, nullptr), 0);
  ASSERT_EQ(parse_descr_list_read(&v2[0], &b2.v, false, false), 0);
  ASSERT_EQ(dump_chan_desr(&b2.v, nullptr, DUMP_XML_FILE, VESK_FORMAT, -1, &v3, nullptr), 0);
  EXPECT_EQ(v2, v3);
}

TEST(dump_chan_desr_from_xml, reads_with_shift_and_frees_on_failure) {
  temp_dir d;
  std::string path = d.path() + "/o.txt";
  std::string good = "<CHANDESCRIPTIONS><CHANNEL><EVTYPE>3</EVTYPE><PROP>P</PROP></CHANNEL>"
                     "</CHANDESCRIPTIONS>";
  std::string bad = "<CHANDESCRIPTIONS><CHANNEL><PROP>P</PROP></CHANNEL>";
  EXPECT_EQ(dump_chan_desr_from_xml(&good[0], &path[0], DUMP_TXT_FILE, XRQ5_FORMAT, -1), 0);
  EXPECT_EQ(read_file(path).substr(0, 4), "0\t8\t") << "event type 3 as the mask 8";
  capture cap;
  EXPECT_EQ(dump_chan_desr_from_xml(&bad[0], &path[0], DUMP_TXT_FILE, XRQ5_FORMAT, -1),
            XRQ5_DUMP_READ_FAILED);
  cap.stop();
  EXPECT_EQ(cap.out(), "Failed to parse CHANDESCR list\n");
}

}  // namespace
