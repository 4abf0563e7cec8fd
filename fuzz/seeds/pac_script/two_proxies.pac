function FindProxyForURL(url, host) {
  if (isPlainHostName(host)) return "DIRECT";
  return "PROXY gw.example.net:3128; PROXY 10.0.0.1:8080; DIRECT";
}
