# Reads a QEMU trace (-msg timestamp=on, events serial_update_parameters, serial_write and
# usb_serial_*) and judges what the driver programmed between the host times `begin` and `end`
# (the guest's loader-cli run). Variables: begin, end (seconds), driver (8250 or ftdi_sio).
# Prints figure lines, and a line starting with FAIL for each fault found.

function hex(s,    i, c, v) {
  sub(/^0x/, "", s)
  v = 0
  for (i = 1; i <= length(s); i++) {
    c = index("0123456789abcdef", tolower(substr(s, i, 1)))
    if (c == 0) break
    v = v * 16 + c - 1
  }
  return v
}

function bit(v, b) { return int(v / b) % 2 }

function describe() {
  return sprintf("%d bit/s, %s%d%d, flow %s, DTR %s, RTS %s", baud, parity, data, stop,
                 flow ? flow : "none", dtr ? "on" : "off", rts ? "on" : "off")
}

function good() {
  return baud >= 10400 * 0.99 && baud <= 10400 * 1.01 && parity == "N" && data == 8 &&
         stop == 1 && !flow && !dtr && !rts
}

BEGIN { baud = 0; parity = "?"; data = 0; stop = 0; flow = 0; dtr = 0; rts = 0 }

{
  if (!match($0, /@[0-9]+\.[0-9]+:/)) next
  t = substr($0, RSTART + 1, RLENGTH - 2) + 0
  rest = substr($0, RSTART + RLENGTH)
  n = split(rest, f, /[ ,=']+/)
  event = f[1]
  inside = t >= begin && t <= end
  line_event = 0
  if (event == "serial_update_parameters") {
    # serial_update_parameters baudrate=10472 parity='N' data=8 stop=1
    for (i = 2; i < n; i++) {
      if (f[i] == "baudrate") baud = f[i + 1] + 0
      if (f[i] == "parity") parity = f[i + 1]
      if (f[i] == "data") data = f[i + 1] + 0
      if (f[i] == "stop") stop = f[i + 1] + 0
    }
    line_event = 1
  } else if (event == "serial_write") {
    # serial_write write addr 0x04 val 0x0b: the modem control register (DTR 1, RTS 2,
    # automatic flow control 0x20)
    if (hex(f[4]) != 4) next
    v = hex(f[6])
    dtr = bit(v, 1); rts = bit(v, 2); flow = bit(v, 32) ? "auto RTS/CTS" : 0
    line_event = 2
  } else if (event == "usb_serial_set_baud") {
    baud = f[n] + 0
    line_event = 1
  } else if (event == "usb_serial_set_data") {
    # usb_serial_set_data dev 0:1 parity N, data bits 8, stop bits 1
    for (i = 2; i < n; i++) {
      if (f[i] == "parity") parity = f[i + 1]
      if (f[i] == "data") data = f[i + 2] + 0
      if (f[i] == "stop") stop = f[i + 2] + 0
    }
    line_event = 1
  } else if (event == "usb_serial_set_flow_control") {
    v = f[n] + 0
    flow = v == 0 ? 0 : (v == 1 ? "RTS/CTS" : (v == 2 ? "DTR/DSR" : (v == 4 ? "XON/XOFF" : v)))
    line_event = 1
  } else if (event == "usb_serial_handle_control") {
    # usb_serial_handle_control dev 0:1 got control 0x4001, value 0x303
    request = hex(f[6]); v = hex(f[8])
    if (request == hex("4001")) {
      if (bit(v, 256)) dtr = bit(v, 1)
      if (bit(v, 512)) rts = bit(v, 2)
      line_event = 2
    } else if (request == hex("4009") && inside) {
      latency = latency sprintf("%s%d ms (+%.1f ms)", latency ? ", then " : "", v, (t - begin) * 1000)
      if (v == 1) lowLatency = 1
    }
  }
  if (!line_event || !inside) next
  if (line_event == 2) {
    if ((dtr || rts) && !raised) { raised = t; raisedHow = describe() }
    if (!dtr && !rts && raised && !dropped) dropped = t
  }
  if (good()) {
    if (!since) { since = t; rate = baud }
  } else if (since && !broken) {
    broken = sprintf("the line changed during the transfer, +%.1f ms: %s", (t - begin) * 1000, describe())
  }
}

END {
  if (!since) print "FAIL the line never was 10400 bit/s 8N1 without flow control, DTR and RTS off; last: " describe()
  else printf "bit rate %d bit/s (%+.2f %%), 8N1, no flow control, DTR and RTS off from +%.1f ms on\n", rate, (rate - 10400) / 104, (since - begin) * 1000
  if (broken) print "FAIL " broken
  if (raised && dropped) printf "DTR/RTS pulse at open: %.2f ms\n", (dropped - raised) * 1000
  else if (raised) print "FAIL DTR/RTS raised at open and never dropped"
  else print "DTR/RTS pulse at open: none"
  if (driver == "ftdi_sio") {
    print "latency timer requests: " (latency ? latency : "none")
    if (!lowLatency) print "FAIL no request for the 1 ms latency timer"
  }
}
