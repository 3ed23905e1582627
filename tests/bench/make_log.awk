# Writes about `size` bytes of a realistic status log, as the plug-in writes
# it (Windows-1250, CR LF): awk -v size=100000000 -f make_log.awk > log.txt
BEGIN {
  split("Ania|Marek|Kasia|Ola|Jan Kowalski|Serwer w piwnicy|Pawe\263|\257aneta (praca)", names, "|")
  split("123456|marek@example.org|987654|ola@example.org|jan@example.org|192.168.1.20|555|zaneta@firma.pl", ids, "|")
  split("@GG)|@JABBER)|@GG)|@JABBER)|@JABBER)|@LAN)|@GG)|@JABBER)", tags, "|")
  split("dostepna|zaraz wracam|nie przeszkadzac|niedost\352pna|ukryta|freeForChat|not-available|zablokowana", she, "|")
  split("dostepny|zaraz wracam|nie przeszkadzac|niedost\352pny|ukryty|freeForChat|not-available|zablokowany", he, "|")
  split("|w domu|w pracy, wracam o 18|spotkanie [pilne]|kto na kaw\352?||\263\363d\274 i okolice|", descs, "|")
  total = 0; t = 0
  while (total < size) {
    t += 7; d = int(t / 86400) % 28 + 1; m = int(t / 86400 / 28) % 12 + 1
    s = t % 60; mi = int(t / 60) % 60; h = int(t / 3600) % 24
    i = int(t / 7) % 8 + 1; w = int(t / 49) % 8 + 1; k = int(t / 343) % 8 + 1
    if (t % 91 == 0) {
      line = sprintf("Zmianiles status %02d.%02d %02d:%02d.%02d na sieci GG na %s", d, m, h, mi, s, he[w])
    } else {
      verb = (i % 2) ? " zmienila status na " : " zmienil status na "
      word = (i % 2) ? she[w] : he[w]
      line = sprintf("%02d.%02d %02d:%02d.%02d %s(%s%s%s%s", d, m, h, mi, s, names[i], ids[i], tags[i], verb, word)
    }
    if (descs[k] != "") line = line " [" descs[k] "]"
    printf "%s\r\n", line
    total += length(line) + 2
  }
}
