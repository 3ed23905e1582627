# Writes a year of a status log for `contacts` contacts (default 300), each
# changing `changes` times a day (default 6: logging in, away and back, and
# out), with a description now and then, as the plug-in writes it
# (Windows-1250, CR LF): awk -v contacts=300 -f make_year_log.awk > year.txt
# (-v years=7: that year seven times over, read as seven years).
BEGIN {
  if (!contacts) contacts = 300
  if (!changes) changes = 6
  split("dostepna|zaraz wracam|dostepna|nie przeszkadzac|dostepna|niedost\352pna", she, "|")
  split("dostepny|zaraz wracam|dostepny|nie przeszkadzac|dostepny|niedost\352pny", he, "|")
  split("w domu|w pracy, wracam o 18|spotkanie [pilne]|kto na kaw\352?|\263\363d\237 i okolice|urlop", descs, "|")
  split("31 28 31 30 31 30 31 31 30 31 30 31", length_of, " ")
  if (!years) years = 1
  srand(1)
  for (year = 1; year <= years; year++) for (month = 1; month <= 12; month++) {
    for (day = 1; day <= length_of[month]; day++) {
      # The day's changes in time order: `changes` slots of the day, each
      # contact at its own minute within the slot.
      for (slot = 0; slot < changes; slot++) {
        for (c = 1; c <= contacts; c++) {
          minute = int(7 * 60 + slot * (15 * 60 / changes) + (c * 7) % 120)
          h = int(minute / 60); mi = minute % 60; s = c % 60
          word = (c % 2) ? she[slot + 1] : he[slot + 1]
          line = sprintf("%02d.%02d %02d:%02d.%02d Kontakt %d(%d@GG) %s %s", day, month, h, mi, s, c, 1000 + c,
                         (c % 2) ? "zmienila status na" : "zmienil status na", word)
          if (rand() < 0.3) line = line " [" descs[int(rand() * 6) + 1] "]"
          printf "%s\r\n", line
        }
      }
    }
  }
}
