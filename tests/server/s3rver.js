// Starts the S3 stand-in for the sharing service's tests and benchmark:
//   node s3rver.js DIRECTORY BUCKET...
// It listens on a free loopback port, prints "port N" once it accepts requests, checks every
// request's Signature V4 (access key and secret "S3RVER") and stops on SIGTERM.
const S3rver = require('@20minutes/s3rver')

const [directory, ...buckets] = process.argv.slice(2)
const server = new S3rver({
  address: '127.0.0.1',
  port: 0,
  directory,
  silent: true,
  configureBuckets: buckets.map((name) => ({ name })),
})
server.run().then(
  ({ port }) => console.log(`port ${port}`),
  (error) => {
    console.error(`s3rver: ${error.message}`)
    process.exit(1)
  }
)
process.on('SIGTERM', () => process.exit(0))
