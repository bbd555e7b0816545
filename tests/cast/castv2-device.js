// A Cast device built on the castv2 package, whose Server decodes frames with
// protobufjs: an independent check of the application's wire encoding.
// Usage: node castv2-device.js KEY CERT
// Prints one line per event: "listening PORT", then "SOURCE DESTINATION NAMESPACE
// PAYLOAD" per frame received ("binary HEX" for a binary payload), then "closed".
'use strict';

const fs = require('fs');
const castv2 = require('castv2');
const proto = require('castv2/lib/proto');

const RECEIVER = 'urn:x-cast:com.google.cast.receiver';
const HEARTBEAT = 'urn:x-cast:com.google.cast.tp.heartbeat';
const MEDIA = 'urn:x-cast:com.google.cast.media';
const TRANSPORT = 'castv2-web-1';

function report(line) {
  process.stdout.write(line + '\n');
}

// Never outlive a test that forgot us.
setTimeout(() => {
  report('gave up');
  process.exit(3);
}, 30000).unref();

const server = new castv2.Server({
  key: fs.readFileSync(process.argv[2]),
  cert: fs.readFileSync(process.argv[3]),
});

server.on('message', (clientId, source, destination, namespace, data) => {
  report([source, destination, namespace, Buffer.isBuffer(data) ? 'binary ' + data.toString('hex') : data].join(' '));
  const reply = (from, ns, object) => server.send(clientId, from, source, ns, JSON.stringify(object));
  if (namespace === RECEIVER && data.includes('"LAUNCH"')) {
    reply('receiver-0', HEARTBEAT, { type: 'PING' });
    reply('receiver-0', RECEIVER, {
      type: 'RECEIVER_STATUS',
      requestId: JSON.parse(data).requestId,
      status: { applications: [{ appId: 'CC1AD845', sessionId: 's-1', transportId: TRANSPORT }] },
    });
  } else if (namespace === MEDIA && data.includes('"LOAD"')) {
    reply(TRANSPORT, MEDIA, { type: 'MEDIA_STATUS', requestId: JSON.parse(data).requestId, status: [] });
    reply('receiver-0', HEARTBEAT, { type: 'PING' });
  }
});

server.server.on('secureConnection', (socket) => {
  socket.once('close', () => {
    report('closed');
    server.close();
    process.exit(0);
  });
});

// The package loads its protocol description asynchronously; accept clients only once it is there.
function whenProtocolLoaded(done, attempts = 0) {
  try {
    proto.CastMessage.serialize({ protocolVersion: 0, sourceId: '', destinationId: '', namespace: '', payloadType: 0 });
    done();
  } catch (error) {
    if (attempts > 200) throw error;
    setTimeout(() => whenProtocolLoaded(done, attempts + 1), 10);
  }
}

whenProtocolLoaded(() => {
  server.listen(0, '127.0.0.1', () => report('listening ' + server.server.address().port));
});
