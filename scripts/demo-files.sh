# Sourced by demo.sh and screenshots.sh: writes the demonstration's files into the current
# directory. Needs $root (the repository).
#
# config.txt: Windows-1252 bytes, CR LF. Channel 0 a flow meter at station 1, channel 1 a pH
# meter at 2, channel 2 a resistivity meter at 3 on its extension block, channel 3 a
# conductivity meter at 4.
printf '%b' \
    '1,5\r\n"1","D\xe9bit entr\xe9e"\r\n' \
    '1,2\r\n"2","pH bassin"\r\n' \
    '1,0\r\n"3","Eau ultrapure"\r\n' \
    '1,1\r\n"4","Conductivit\xe9 rejet"\r\n' \
    '#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n' \
    '#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n' > config.txt
# PortCom.dat: COM1, 9600 baud, no parity, 1 stop bit.
printf ' 1             0 \r\n 0 \r\n 0 \r\n' > PortCom.dat
cp "$root/assets/instrum1.bmp" instrum1.bmp
# The stations that config.txt describes, for merival-sim.
DEMO_STATIONS=(1:flow 2:ph 3:resistivity 4:conductivity)
