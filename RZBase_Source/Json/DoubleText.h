// The text of a double for JSON, fast for the numbers that values usually carry and exact
// for all.
#pragma once

namespace rzbase::json {

// The shortest text that reads back as the value (which must be finite), laid out as
// std::to_chars lays it out: fixed or scientific, whichever is shorter. Needs room for 40
// characters at `out`; returns the end of the text.
char* writeShortest(double value, char* out);

}  // namespace rzbase::json
