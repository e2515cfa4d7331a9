'use strict';
'require baseclass';

// Stands for LuCI's rpc.js (luci-base): declare() over a canned reply of
// ubus's JSON-RPC endpoint per object and method, L.env.ubus["OBJECT.METHOD"],
// as uhttpd's ubus handler sends it: {"result": [STATUS, DATA]} for a call
// made, {"error": {...}} for one refused (no such object, the ACL).
// As in rpc.js, an error rejects, and a call whose ubus status is not 0
// rejects only with the option reject, and otherwise gives that status.
var known = [ 'object', 'method', 'reject' ];

return baseclass.extend({
	declare: function(options) {
		Object.keys(options).forEach(function(key) {
			if (known.indexOf(key) < 0)
				throw new Error('rpc.declare(): the stand-in has no option ' + key);
		});
		var name = options.object + '/' + options.method;

		return function() {
			var reply = L.env.ubus[options.object + '.' + options.method] ||
				{ jsonrpc: '2.0', id: 1, error: { code: -32000, message: 'Object not found' } };
			return new Promise(function(resolve, reject) {
				if (L.isObject(reply.error))
					reject(new Error('RPC call to ' + name + ' failed with error ' +
						reply.error.code + ': ' + reply.error.message));
				else if (reply.result[0] !== 0 && options.reject)
					reject(new Error('RPC call to ' + name + ' failed with ubus code ' + reply.result[0]));
				else
					resolve(reply.result.length > 1 ? reply.result[1] : reply.result[0]);
			});
		};
	}
});
