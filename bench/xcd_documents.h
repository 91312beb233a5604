// Synthetic XCD documents of n channels, every channel with its own property, for the
// reader and writer benchmarks.
#ifndef XRQ5_BENCH_XCD_DOCUMENTS_H
#define XRQ5_BENCH_XCD_DOCUMENTS_H

#include <cstdio>
#include <string>

inline std::string tag_form(int n) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<CHANDESCRIPTIONS>\n";
  char buf[1024];
  for (int i = 0; i < n; ++i) {
    snprintf(buf, sizeof buf,
             "<CHANNEL>\n<STREAM>1</STREAM>\n<EVTYPE>1</EVTYPE>\n<DTYPE>38</DTYPE>\n"
             "<DB_KEY>%d</DB_KEY>\n<COUNT>3</COUNT>\n<SB_NAME>BPM.ARC%d</SB_NAME>\n"
             "<PROP>LINAC/BPM/ARC.%d/XYQ</PROP>\n<NAME>BPM.ARC.%d</NAME>\n"
             "<SETPOINT>0</SETPOINT>\n<SUBSYSTEM>diagnostics</SUBSYSTEM>\n<UNITS>mm</UNITS>\n"
             "<DESC>beam position x, y and charge</DESC>\n<SIZE>3</SIZE>\n</CHANNEL>\n",
             i, i % 17, i, i);
    doc += buf;
  }
  return doc + "</CHANDESCRIPTIONS>\n";
}

inline std::string var_form(int n) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<DAQvariables>\n";
  char buf[1024];
  for (int i = 0; i < n; ++i) {
    const bool bits = i % 8 == 0;
    snprintf(buf, sizeof buf,
             "<%s>\n<evType>1</evType>\n<tarvo>LINAC/BPM/ARC.%d/X</tarvo>\n"
             "<daqName>BPM.ARC.%d.X</daqName>\n<DBKey>%d</DBKey>\n<setPoint>0</setPoint>\n"
             "<sbName>BPM</sbName>\n<subSystem>diagnostics</subSystem>\n"
             "<description>beam position</description>\n<units>mm</units>\n%s"
             "<freq>1</freq>\n</%s>\n",
             bits ? "DaqBits" : "DaqFloat", i, i, i,
             bits ? "<bitTitle bit=\"0\">ok</bitTitle>\n<bitTitle bit=\"3\">trip</bitTitle>\n" : "",
             bits ? "DaqBits" : "DaqFloat");
    doc += buf;
  }
  return doc + "</DAQvariables>\n";
}

#endif  // XRQ5_BENCH_XCD_DOCUMENTS_H
