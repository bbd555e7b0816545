// An independent SSDP responder (node-ssdp) announcing one zone player whose
// description lives at the location given as the first argument. Runs only
// inside the test's own network namespace, where lo is the only interface.
'use strict';
const os = require('os');

// node-ssdp skips loopback interfaces; in the sandbox lo is all there is.
const listInterfaces = os.networkInterfaces;
os.networkInterfaces = () =>
  Object.fromEntries(Object.entries(listInterfaces()).map(([name, addresses]) =>
    [name, addresses.map((address) => ({ ...address, internal: false }))]));

const { Server } = require('node-ssdp');
const server = new Server({ location: process.argv[2], udn: 'uuid:RINCON_NODE1400', adInterval: 600000 });
server.addUSN('urn:schemas-upnp-org:device:ZonePlayer:1');
server.start().then(() => console.log('ready'), (error) => { console.error(error); process.exit(1); });
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
